#pragma once

#include "platform/component.h"

// What the test component library serves: one class whose objects offer
// one interface, and a count of the objects and factories alive.
namespace platform::fixture {

constexpr Guid kThingClsid{0x5A1B2C3D, 0x4E5F, 0x4071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};
constexpr Guid kThingIid{0x0F1E2D3C, 0x4B5A, 0x4968, {0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0}};
constexpr const char* kThingProgId = "Marlgate.FixtureThing";

class Thing {
 public:
  virtual ~Thing() = default;
  virtual int Value() const = 0;
};

// Exported with C linkage beside the four component exports.
using LiveCountFn = int (*)();
constexpr const char* kLiveCountExport = "FixtureLiveCount";

}  // namespace platform::fixture
