#include "host/windows/timer_object.h"

#include <utility>

#include "host/windows/host_com_object.h"
#include "platform/event.h"
#include "platform/linux/factories.h"
#include "platform/message_loop.h"
#include "platform/timer.h"
#include "platform/windows/class_factory.h"

namespace host::windows {

namespace {

constexpr DISPID kDispidTimeout = 1;

class TimerObject final : public HostObject<IHostTimer, EventSource<DHostTimerEvents>> {
 public:
  TimerObject() : timer_(platform::linux_impl::NewLoopTimer()) {
    timeout_ = timer_->Timeout.Connect([this](platform::Timer&) {
      VARIANT source;
      ::VariantInit(&source);
      source.vt = VT_DISPATCH;
      source.pdispVal = Self();  // the caller's reference covers the call
      Fire(kDispidTimeout, &source, 1);
    });
  }

  HRESULT STDMETHODCALLTYPE Start(LONG interval) override {
    const HRESULT hr = Run([&] { timer_->Start(interval); });
    CountAsPendingWork();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE Stop() override {
    const HRESULT hr = Run([&] { timer_->Stop(); });
    CountAsPendingWork();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE get_Running(VARIANT_BOOL* running) override {
    return Result(running, [&] { return timer_->Running() ? VARIANT_TRUE : VARIANT_FALSE; });
  }

 private:
  // A timer that goes stops.
  ~TimerObject() override {
    timeout_.reset();
    timer_.reset();
    if (pending_) platform::MessageLoop::Current().RemovePendingWork();
  }

  // The thread's loop has one unit of pending work from this timer exactly
  // while it runs.
  void CountAsPendingWork() noexcept {
    const bool running = timer_->Running();
    if (running == pending_) return;
    pending_ = running;
    if (running) {
      platform::MessageLoop::Current().AddPendingWork();
    } else {
      platform::MessageLoop::Current().RemovePendingWork();
    }
  }

  platform::Ref<platform::Timer> timer_;
  bool pending_ = false;
  platform::Connection timeout_;
};

}  // namespace

platform::windows::ComPtr<IHostTimer> NewTimerObject() {
  return platform::windows::ComPtr<IHostTimer>::Adopt(new TimerObject());
}

platform::windows::ComPtr<IClassFactory> NewTimerClassFactory() {
  return platform::windows::ComPtr<IClassFactory>::Adopt(
      new platform::windows::ClassFactory<TimerObject>());
}

}  // namespace host::windows
