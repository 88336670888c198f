#pragma once

#include <string>

#include "hostapi/host.h"

namespace host {

// The character-statistics filter: the host sets the character's name and
// announces a login; the plug-in reads the name.
class CharacterStats : public hostapi::CharacterStats {
 public:
  std::wstring Name() override;
  void SetName(std::wstring name);

  // Raises Login synchronously (with 0; the plug-in ignores the value);
  // whatever a handler raises passes to the caller.
  void RaiseLogin();

 private:
  std::wstring name_;
};

}  // namespace host
