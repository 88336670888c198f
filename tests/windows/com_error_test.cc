// The text of a failed call of an object: the object's own error
// information only when it says it sets some for the interface called, and
// never what an earlier failure left on the thread.

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/error.h"
#include "platform/windows/com_error.h"
#include "platform/windows/com_object.h"
#include "platform/windows/com_types.h"

namespace {

using platform::windows::ComPtr;

void LeaveErrorInfo(const wchar_t* text) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(::CreateErrorInfo(create.Receive()), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(text));
  ComPtr<IErrorInfo> info = create.Query<IErrorInfo>(IID_IErrorInfo);
  ::SetErrorInfo(0, info.get());
}

// An object whose LockServer fails with error 5, setting error information
// or not, and saying that it sets it for IClassFactory or not.
class FailingObject final
    : public platform::windows::ComObject<IClassFactory, ISupportErrorInfo> {
 public:
  FailingObject(bool sets_info, bool says_so) : sets_info_(sets_info), says_so_(says_so) {}
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override {
    if (sets_info_) LeaveErrorInfo(L"the object's own text");
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 5);
  }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return says_so_ && iid == IID_IClassFactory ? S_OK : S_FALSE;
  }

 private:
  bool sets_info_;
  bool says_so_;
};

TEST(ComError, AFailureIsToldWithItsOwnTextNeverAnEarlierOne) {
  const std::wstring standard = platform::StandardDescription(5);
  ASSERT_FALSE(standard.empty());
  struct Case {
    const char* name;
    bool sets_info;
    bool says_so;
    std::wstring expected;
  };
  const Case cases[] = {
      {"sets none, says it does", false, true, standard},
      {"sets some, does not say so", true, false, standard},
      {"sets some, says so", true, true, L"the object's own text"},
  };
  for (const Case& c : cases) {
    LeaveErrorInfo(L"left by an earlier failure");
    auto object = ComPtr<FailingObject>::Adopt(new FailingObject(c.sets_info, c.says_so));
    try {
      platform::windows::CallAutomation(static_cast<IClassFactory*>(object.get()), &IClassFactory::LockServer,
                                        L"Locking", TRUE);
      ADD_FAILURE() << c.name << ": no failure";
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.number(), 5) << c.name;
      EXPECT_EQ(e.description(), c.expected) << c.name;
    }
  }
  // Not an object's call (a system call): the system's text.
  LeaveErrorInfo(L"left by an earlier failure");
  EXPECT_EQ(platform::windows::HResultDescription(E_OUTOFMEMORY).find(L"left by"), std::wstring::npos);
  // Nothing is left on the thread either way.
  ComPtr<IErrorInfo> left;
  EXPECT_EQ(::GetErrorInfo(0, left.Receive()), S_FALSE);
}

}  // namespace
