// IHostCharacterStats over the host's character-statistics filter, with
// its Login event (DHostCharacterStatsEvents) through a connection point.

#include <utility>

#include "host/windows/host_com_object.h"
#include "host/windows/host_objects.h"
#include "platform/event.h"

namespace host::windows {

namespace {

constexpr DISPID kDispidLogin = 1;

class CharacterStatsObject final
    : public HostObject<IHostCharacterStats, EventSource<DHostCharacterStatsEvents>> {
 public:
  explicit CharacterStatsObject(platform::Ref<hostapi::CharacterStats> stats)
      : stats_(std::move(stats)) {
    login_ = stats_->Login.Connect([this](int32_t value) {
      VARIANT argument = LongArgument(value);
      Fire(kDispidLogin, &argument, 1);
    });
  }

  HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override {
    return Result(name, [&] { return NewBstr(stats_->Name()); });
  }

 private:
  ~CharacterStatsObject() override = default;

  platform::Ref<hostapi::CharacterStats> stats_;
  platform::Connection login_;
};

}  // namespace

ComPtr<IHostCharacterStats> NewCharacterStatsObject(platform::Ref<hostapi::CharacterStats> stats) {
  return ComPtr<IHostCharacterStats>::Adopt(new CharacterStatsObject(std::move(stats)));
}

}  // namespace host::windows
