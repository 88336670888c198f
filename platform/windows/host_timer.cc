// The plug-in's timers on Windows: the host's timer component (coclass
// Timer of the host contract), created by class id, so that the host owns
// time (its script mode moves the clock of its timers). The timer's
// Timeout event reaches the platform's Timeout through a sink advised on
// the host timer's connection point for as long as this object lives.

#include <windows.h>
#include <objbase.h>

#include <memory>
#include <string>
#include <utility>

#include "marlgate_host.h"
#include "platform/error.h"
#include "platform/timer.h"
#include "platform/windows/com_error.h"
#include "platform/windows/com_types.h"
#include "platform/windows/connection_point.h"
#include "platform/windows/dispatch_sink.h"
#include "platform/windows/factories.h"
#include "platform/windows/registry.h"

namespace platform::windows {

namespace {

constexpr DISPID kDispIdTimeout = 1;

// Whether CoCreateInstance's answer means that no Timer class is to be had.
bool ClassMissing(HRESULT hr) {
  return hr == REGDB_E_CLASSNOTREG || hr == CLASS_E_CLASSNOTAVAILABLE || hr == CO_E_DLLNOTFOUND ||
         hr == CO_E_ERRORINDLL || hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
}

[[noreturn]] void RaiseClassMissing(HRESULT hr) {
  wchar_t answer[16];
  ::wsprintfW(answer, L"0x%08X", static_cast<unsigned>(hr));
  Raise(kHostTimerClassMissing, L"The host's Timer class " + GuidText(CLSID_Timer) +
                                    L" is not registered (" + answer +
                                    L"); a host registers it before it creates the plug-in's objects");
}

class HostTimer final : public Timer {
 public:
  HostTimer() {
    const HRESULT hr = ::CoCreateInstance(CLSID_Timer, nullptr, CLSCTX_INPROC_SERVER, IID_IHostTimer,
                                          timer_.ReceiveVoid());
    if (ClassMissing(hr)) RaiseClassMissing(hr);
    if (FAILED(hr) || !timer_) RaiseAutomationFailure(FAILED(hr) ? hr : E_NOINTERFACE, L"Creating the host's timer");
    // The sink refers to this object without owning it; it is detached
    // before this object goes. A Timeout handler may destroy this object:
    // nothing of it is touched after Raise.
    sink_ = ComPtr<DispatchSink>::Adopt(
        new DispatchSink(DIID_DHostTimerEvents, [this](DISPID member, DISPPARAMS*) {
          if (member != kDispIdTimeout) return DISP_E_MEMBERNOTFOUND;
          Timeout.Raise(*this);
          return S_OK;
        }));
    connection_ = SinkConnection(timer_.get(), DIID_DHostTimerEvents, sink_.get());
  }

  ~HostTimer() override {
    connection_.Reset();
    sink_->Detach();
    // A timer that goes stops; the host's object may outlive it.
    timer_->Stop();
  }

  void Start(int32_t interval_ms) override {
    if (interval_ms < 0) Raise(kErrInvalidArgument);
    CallAutomation(timer_.get(), &IHostTimer::Start, L"Starting the timer", interval_ms);
  }

  void Stop() override {
    CallAutomation(timer_.get(), &IHostTimer::Stop, L"Stopping the timer");
  }

  bool Running() const override {
    VARIANT_BOOL running = VARIANT_FALSE;
    CallAutomation(timer_.get(), &IHostTimer::get_Running, L"Reading the timer", &running);
    return running != VARIANT_FALSE;
  }

 private:
  ComPtr<IHostTimer> timer_;
  ComPtr<DispatchSink> sink_;
  SinkConnection connection_;
};

}  // namespace

Ref<Timer> NewHostTimer() { return Ref<Timer>(std::make_shared<HostTimer>()); }

}  // namespace platform::windows
