#include "tests/windows/fake_host_timer.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include "marlgate_host.h"
#include "platform/error.h"
#include "platform/linux/factories.h"
#include "platform/windows/class_factory.h"
#include "platform/windows/com_error.h"
#include "platform/windows/com_object.h"
#include "platform/windows/connection_point.h"

namespace windows_tests {

namespace {

using platform::windows::ComObject;
using platform::windows::ComPtr;
using platform::windows::EventConnectionPoint;

long g_last_interval = 0;
DWORD g_cookie = 0;

class FakeHostTimer final : public ComObject<IHostTimer, IConnectionPointContainer> {
 public:
  FakeHostTimer()
      : timer_(platform::linux_impl::NewLoopTimer()),
        events_(static_cast<IConnectionPointContainer*>(this), DIID_DHostTimerEvents) {
    timeout_ = timer_->Timeout.Connect([this](platform::Timer&) {
      ComPtr<IUnknown> keep = ComPtr<IUnknown>::Share(Identity());
      events_.ForEachSink([&](IDispatch* sink) {
        VARIANT source;
        ::VariantInit(&source);
        source.vt = VT_DISPATCH;
        source.pdispVal = static_cast<IHostTimer*>(this);
        platform::windows::InvokeSink(sink, 1, &source, 1);
      });
    });
  }

  HRESULT STDMETHODCALLTYPE Start(LONG interval) override {
    try {
      timer_->Start(interval);
      g_last_interval = interval;
      return S_OK;
    } catch (...) {
      return platform::windows::HResultFromCurrentException(IID_IHostTimer, L"fake host");
    }
  }
  HRESULT STDMETHODCALLTYPE Stop() override {
    timer_->Stop();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Running(VARIANT_BOOL* running) override {
    if (running == nullptr) return E_POINTER;
    *running = timer_->Running() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

  // The plug-in calls the timer through its vtable only.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count != nullptr) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
    return events_.Enumerate(out);
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
    return events_.Find(iid, out);
  }

 private:
  ~FakeHostTimer() override { events_.Clear(); }

  platform::Ref<platform::Timer> timer_;
  EventConnectionPoint events_;
  platform::Connection timeout_;
};

HRESULT RegisterFake() {
  auto factory = ComPtr<IClassFactory>::Adopt(new platform::windows::ClassFactory<FakeHostTimer>());
  return ::CoRegisterClassObject(CLSID_Timer, factory.get(), CLSCTX_INPROC_SERVER,
                                 REGCLS_MULTIPLEUSE, &g_cookie);
}

void RevokeFake() {
  if (g_cookie != 0) ::CoRevokeClassObject(g_cookie);
  g_cookie = 0;
}

class FakeHostTimerClass final : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(RegisterFake(), S_OK); }
  void TearDown() override { RevokeFake(); }
};

// A class object whose CreateInstance answers one failure.
class FailingClassFactory final : public platform::windows::ComObject<IClassFactory> {
 public:
  explicit FailingClassFactory(HRESULT answer) : answer_(answer) {}
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void** out) override {
    if (out != nullptr) *out = nullptr;
    return answer_;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  HRESULT answer_;
};

::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new FakeHostTimerClass());

}  // namespace

long LastStartedInterval() { return g_last_interval; }

ScopedTimerClassAnswer::ScopedTimerClassAnswer(HRESULT answer) {
  RevokeFake();
  auto factory = ComPtr<IClassFactory>::Adopt(new FailingClassFactory(answer));
  EXPECT_EQ(::CoRegisterClassObject(CLSID_Timer, factory.get(), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie_),
            S_OK);
}

ScopedTimerClassAnswer::~ScopedTimerClassAnswer() {
  if (cookie_ != 0) ::CoRevokeClassObject(cookie_);
  EXPECT_EQ(RegisterFake(), S_OK);
}

}  // namespace windows_tests
