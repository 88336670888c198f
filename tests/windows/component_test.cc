// The plug-in as a COM server, loaded from the built marlgate_travels.dll:
// its class factories, DllCanUnloadNow, self-registration, the type library,
// and httpHandler as an automation client sees it (late-bound calls and
// events through a connection point, against a loopback server).

#include <windows.h>
#include <msxml2.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "marlgate_travels.h"
#include "platform/message_loop.h"
#include "platform/text.h"
#include "platform/windows/com_types.h"
#include "platform/windows/msxml_ids.h"
#include "tests/windows/fake_host_timer.h"
#include "tests/windows/loopback_server.h"

namespace {

using namespace std::chrono_literals;
using platform::windows::Bstr;
using platform::windows::ComPtr;
using platform::windows::ScopedVariant;
using windows_tests::LoopbackServer;

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using NoArgumentFn = HRESULT(STDAPICALLTYPE*)();

std::wstring BinFolder() {
  wchar_t exe[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path(exe, length);
  return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring GuidText(const GUID& guid) {
  wchar_t buffer[40];
  ::StringFromGUID2(guid, buffer, 40);
  return buffer;
}

// The string value `name` (null: the default value) of root\key; nullopt
// when the key or value is not there.
std::optional<std::wstring> RegistryValue(const std::wstring& key, const wchar_t* name = nullptr,
                                          HKEY root = HKEY_CLASSES_ROOT) {
  wchar_t data[1024];
  DWORD size = sizeof data;
  const LONG status = ::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return std::wstring(data);
}

// In the 64-bit view of root (HKCR by default), or (with `view`
// KEY_WOW64_32KEY) the 32-bit one.
bool KeyExists(const std::wstring& key, REGSAM view = 0, HKEY root = HKEY_CLASSES_ROOT) {
  HKEY handle = nullptr;
  if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(handle);
  return true;
}

using InstallFn = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);

class ComponentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    path_ = BinFolder() + L"\\marlgate_travels.dll";
    module_ = ::LoadLibraryExW(path_.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(module_, nullptr);
    get_class_object_ = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "DllGetClassObject")));
    can_unload_now_ = reinterpret_cast<NoArgumentFn>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "DllCanUnloadNow")));
    register_server_ = reinterpret_cast<NoArgumentFn>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "DllRegisterServer")));
    unregister_server_ = reinterpret_cast<NoArgumentFn>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "DllUnregisterServer")));
    install_ = reinterpret_cast<InstallFn>(reinterpret_cast<void*>(::GetProcAddress(module_, "DllInstall")));
    ASSERT_TRUE(get_class_object_ && can_unload_now_ && register_server_ && unregister_server_ && install_);
  }

  static ComPtr<IClassFactory> Factory(const CLSID& clsid) {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(get_class_object_(clsid, IID_IClassFactory, factory.ReceiveVoid()), S_OK);
    return factory;
  }

  // The registration as this test found it is put back when it ends.
  // The machine's registration, as the suite made it (regsvr32).
  void KeepRegistration() {
    was_registered_ = KeyExists(L"Software\\Classes\\CLSID\\" + GuidText(CLSID_Main), 0, HKEY_LOCAL_MACHINE);
  }
  void RestoreRegistration() {
    if (was_registered_) {
      EXPECT_EQ(register_server_(), S_OK);
    } else {
      EXPECT_EQ(unregister_server_(), S_OK);
    }
  }

  static inline std::wstring path_;
  static inline HMODULE module_ = nullptr;
  static inline GetClassObjectFn get_class_object_ = nullptr;
  static inline NoArgumentFn can_unload_now_ = nullptr;
  static inline NoArgumentFn register_server_ = nullptr;
  static inline NoArgumentFn unregister_server_ = nullptr;
  static inline InstallFn install_ = nullptr;
  bool was_registered_ = false;
};

TEST_F(ComponentTest, ServesItsTwoClassesAndNothingElse) {
  for (const CLSID* clsid : {&CLSID_Main, &CLSID_httpHandler}) {
    ComPtr<IClassFactory> factory = Factory(*clsid);
    ASSERT_TRUE(factory);
    ComPtr<IUnknown> object;
    ComPtr<IUnknown> outer = factory.Query<IUnknown>(IID_IUnknown);
    EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, object.ReceiveVoid()),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, object.ReceiveVoid()), E_NOINTERFACE);
  }
  ComPtr<IPlugin2> main;
  EXPECT_EQ(Factory(CLSID_Main)->CreateInstance(nullptr, IID_IPlugin2, main.ReceiveVoid()), S_OK);
  ComPtr<IDispatch> handler;
  EXPECT_EQ(Factory(CLSID_httpHandler)->CreateInstance(nullptr, IID__httpHandler, handler.ReceiveVoid()),
            S_OK);
  void* none = nullptr;
  EXPECT_EQ(get_class_object_(IID_IUnknown, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(none, nullptr);
}

// httpHandler makes a host timer as it is made. Without the host's Timer
// class it fails with an error of its own, 0xA0040201 with a text naming
// the class, not with the REGDB_E_CLASSNOTREG of httpHandler itself
// missing; any other failure of the timer comes through as it is.
TEST_F(ComponentTest, AMissingTimerClassHasAnErrorOfItsOwn) {
  constexpr HRESULT kTimerClassMissing = static_cast<HRESULT>(0xA0040201L);
  struct Case {
    HRESULT answer;
    HRESULT hr;
    const wchar_t* text;
  };
  const Case cases[] = {
      {REGDB_E_CLASSNOTREG, kTimerClassMissing,
       L"The host's Timer class {C1F0E221-767D-4CCA-802B-BAF556068E27} is not registered "
       L"(0x80040154); a host registers it before it creates the plug-in's objects"},
      {CLASS_E_CLASSNOTAVAILABLE, kTimerClassMissing, L"(0x80040111)"},
      {E_OUTOFMEMORY, E_OUTOFMEMORY, L""},
  };
  for (const Case& c : cases) {
    windows_tests::ScopedTimerClassAnswer missing(c.answer);
    ComPtr<IDispatch> handler;
    ::SetErrorInfo(0, nullptr);
    EXPECT_EQ(Factory(CLSID_httpHandler)->CreateInstance(nullptr, IID__httpHandler, handler.ReceiveVoid()),
              c.hr)
        << std::hex << c.answer;
    EXPECT_FALSE(handler);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(::GetErrorInfo(0, info.Receive()), S_OK) << std::hex << c.answer;
    Bstr text;
    ASSERT_EQ(info->GetDescription(text.Receive()), S_OK);
    EXPECT_NE(text.str().find(c.text), std::wstring::npos) << platform::WideToUtf8(text.str());
  }
  ComPtr<IDispatch> handler;
  EXPECT_EQ(Factory(CLSID_httpHandler)->CreateInstance(nullptr, IID__httpHandler, handler.ReceiveVoid()),
            S_OK);
}

TEST_F(ComponentTest, CanUnloadOnlyWithoutLiveObjectsOrLocks) {
  EXPECT_EQ(can_unload_now_(), S_OK);
  struct Case {
    const char* holding;
    std::function<ComPtr<IUnknown>()> hold;
  };
  const Case cases[] = {
      {"a class factory", [] { return Factory(CLSID_Main).Query<IUnknown>(IID_IUnknown); }},
      {"a Main",
       [] {
         ComPtr<IUnknown> o;
         Factory(CLSID_Main)->CreateInstance(nullptr, IID_IUnknown, o.ReceiveVoid());
         return o;
       }},
      {"an httpHandler",
       [] {
         ComPtr<IUnknown> o;
         Factory(CLSID_httpHandler)->CreateInstance(nullptr, IID_IUnknown, o.ReceiveVoid());
         return o;
       }},
      // Objects the library hands out besides its classes keep its code in use.
      {"an enumerator of an httpHandler's connection points",
       [] {
         ComPtr<IConnectionPointContainer> o;
         Factory(CLSID_httpHandler)->CreateInstance(nullptr, IID_IConnectionPointContainer, o.ReceiveVoid());
         ComPtr<IEnumConnectionPoints> points;
         o->EnumConnectionPoints(points.Receive());
         return points.Query<IUnknown>(IID_IUnknown);
       }},
  };
  for (const Case& c : cases) {
    ComPtr<IUnknown> held = c.hold();
    ASSERT_TRUE(held) << c.holding;
    EXPECT_EQ(can_unload_now_(), S_FALSE) << c.holding;
    held.reset();
    EXPECT_EQ(can_unload_now_(), S_OK) << c.holding;
  }
  {
    ComPtr<IClassFactory> factory = Factory(CLSID_httpHandler);
    factory->LockServer(TRUE);
    factory.reset();
    EXPECT_EQ(can_unload_now_(), S_FALSE) << "a server lock";
    Factory(CLSID_httpHandler)->LockServer(FALSE);
  }
  EXPECT_EQ(can_unload_now_(), S_OK);
  // A client's extra unlock must not cancel a later lock.
  Factory(CLSID_httpHandler)->LockServer(FALSE);
  Factory(CLSID_httpHandler)->LockServer(TRUE);
  EXPECT_EQ(can_unload_now_(), S_FALSE) << "a lock after an extra unlock";
  Factory(CLSID_httpHandler)->LockServer(FALSE);
  EXPECT_EQ(can_unload_now_(), S_OK);
}

// For the machine (DllRegisterServer, under HKLM) and for the user alone
// (DllInstall "user", under HKCU, no elevation): the same keys, and
// unregistering removes every one of them, twice over.
TEST_F(ComponentTest, RegistrationWritesItsKeysAndRemovesThemAll) {
  KeepRegistration();
  ASSERT_EQ(unregister_server_(), S_OK);
  const std::wstring library = GuidText(LIBID_marlgate_travels);
  struct Scope {
    const char* name;
    std::function<HRESULT()> register_it;
    std::function<HRESULT()> unregister_it;
    HKEY root;
    HKEY other;
  };
  const Scope scopes[] = {
      {"machine", register_server_, unregister_server_, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER},
      {"user", [] { return install_(TRUE, L"user"); }, [] { return install_(FALSE, L"user"); },
       HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE},
  };
  struct Class {
    const CLSID& clsid;
    std::wstring prog_id;
  };
  const Class classes[] = {{CLSID_Main, L"marlgate_travels.Main"},
                           {CLSID_httpHandler, L"marlgate_travels.httpHandler"}};
  for (const Scope& scope : scopes) {
    SCOPED_TRACE(scope.name);
    ASSERT_EQ(scope.register_it(), S_OK);
    for (const Class& c : classes) {
      const std::wstring key = L"Software\\Classes\\CLSID\\" + GuidText(c.clsid);
      EXPECT_EQ(RegistryValue(key + L"\\InprocServer32", nullptr, scope.root), path_);
      EXPECT_EQ(RegistryValue(key + L"\\InprocServer32", L"ThreadingModel", scope.root), L"Apartment");
      EXPECT_EQ(RegistryValue(key + L"\\ProgID", nullptr, scope.root), c.prog_id + L".1");
      EXPECT_EQ(RegistryValue(key + L"\\VersionIndependentProgID", nullptr, scope.root), c.prog_id);
      EXPECT_EQ(RegistryValue(key + L"\\TypeLib", nullptr, scope.root), library);
      EXPECT_EQ(RegistryValue(L"Software\\Classes\\" + c.prog_id + L"\\CurVer", nullptr, scope.root),
                c.prog_id + L".1");
      EXPECT_EQ(RegistryValue(L"Software\\Classes\\" + c.prog_id + L".1\\CLSID", nullptr, scope.root),
                GuidText(c.clsid));
      EXPECT_FALSE(KeyExists(key, 0, scope.other));
      // COM finds the class by its ProgID. (A user's registration is found
      // there by Windows; Wine 8 looks in the machine's classes only.)
      if (scope.root == HKEY_LOCAL_MACHINE) {
        CLSID found{};
        EXPECT_EQ(::CLSIDFromProgID(c.prog_id.c_str(), &found), S_OK);
        EXPECT_TRUE(found == c.clsid);
      }
    }
    EXPECT_TRUE(KeyExists(L"TypeLib\\" + library + L"\\1.0"));
    for (const IID* iid : {&IID__httpHandler, &DIID___httpHandler}) {
      EXPECT_EQ(RegistryValue(L"Interface\\" + GuidText(*iid) + L"\\TypeLib"), library);
    }
    EXPECT_EQ(scope.register_it(), S_OK);
    ASSERT_EQ(scope.unregister_it(), S_OK);
    std::vector<std::wstring> keys = {L"TypeLib\\" + library, L"Interface\\" + GuidText(IID__httpHandler),
                                      L"Interface\\" + GuidText(DIID___httpHandler)};
    for (const Class& c : classes) {
      keys.push_back(L"CLSID\\" + GuidText(c.clsid));
      keys.push_back(c.prog_id);
      keys.push_back(c.prog_id + L".1");
    }
    for (const std::wstring& key : keys) {
      EXPECT_FALSE(KeyExists(key)) << std::string(key.begin(), key.end());
      EXPECT_FALSE(KeyExists(key, KEY_WOW64_32KEY)) << "32-bit view: " << std::string(key.begin(), key.end());
    }
    EXPECT_EQ(scope.unregister_it(), S_OK);
  }
  // DllInstall's command line names the scope; anything else is refused.
  for (const wchar_t* line : {L"everyone", L"user "}) EXPECT_EQ(install_(TRUE, line), E_INVALIDARG);
  RestoreRegistration();
}

// Unregistering takes away only a registration that names this file: a
// copy's registration stays until the copy itself is unregistered, and a
// registration whose file is gone is let be.
TEST_F(ComponentTest, UnregisteringLeavesAnotherCopysRegistration) {
  KeepRegistration();
  ASSERT_EQ(unregister_server_(), S_OK);
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring copy = std::wstring(temp) + L"marlgate-copy-" +
                            std::to_wstring(::GetCurrentProcessId()) + L".dll";
  ASSERT_TRUE(::CopyFileW(path_.c_str(), copy.c_str(), FALSE));
  HMODULE module = ::LoadLibraryExW(copy.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(module, nullptr);
  auto copy_install =
      reinterpret_cast<InstallFn>(reinterpret_cast<void*>(::GetProcAddress(module, "DllInstall")));
  ASSERT_EQ(copy_install(TRUE, L"user"), S_OK);
  const std::wstring main = L"Software\\Classes\\CLSID\\" + GuidText(CLSID_Main);

  EXPECT_EQ(install_(FALSE, L"user"), S_OK);
  EXPECT_EQ(RegistryValue(main + L"\\InprocServer32", nullptr, HKEY_CURRENT_USER), copy);
  EXPECT_TRUE(KeyExists(L"Software\\Classes\\marlgate_travels.Main", 0, HKEY_CURRENT_USER));

  EXPECT_EQ(copy_install(FALSE, L"user"), S_OK);
  EXPECT_FALSE(KeyExists(main, 0, HKEY_CURRENT_USER));
  EXPECT_FALSE(KeyExists(L"Software\\Classes\\marlgate_travels.Main", 0, HKEY_CURRENT_USER));
  EXPECT_FALSE(KeyExists(L"TypeLib\\" + GuidText(LIBID_marlgate_travels)));
  ::FreeLibrary(module);
  ::DeleteFileW(copy.c_str());
  RestoreRegistration();
}

// A registration that fails halfway (here: a key the registration needs a
// lasting subkey of is volatile, which the registry refuses) takes back what
// it wrote and puts back what it replaced.
TEST_F(ComponentTest, ARegistrationThatFailsTakesBackWhatItWrote) {
  KeepRegistration();
  ASSERT_EQ(unregister_server_(), S_OK);
  const std::wstring classes = L"Software\\Classes\\";
  const std::wstring server = classes + L"CLSID\\" + GuidText(CLSID_Main) + L"\\InprocServer32";
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, server.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &key, nullptr),
            ERROR_SUCCESS);
  const wchar_t old_path[] = L"C:\\elsewhere\\old.dll";
  ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(old_path), sizeof old_path);
  ::RegCloseKey(key);
  HKEY volatile_key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, (classes + L"marlgate_travels.httpHandler").c_str(), 0,
                              nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &volatile_key, nullptr),
            ERROR_SUCCESS);
  ::RegCloseKey(volatile_key);

  EXPECT_TRUE(FAILED(install_(TRUE, L"user")));
  EXPECT_EQ(RegistryValue(server, nullptr, HKEY_CURRENT_USER), old_path);
  EXPECT_FALSE(RegistryValue(server, L"ThreadingModel", HKEY_CURRENT_USER).has_value());
  EXPECT_FALSE(KeyExists(classes + L"marlgate_travels.Main", 0, HKEY_CURRENT_USER));
  EXPECT_FALSE(KeyExists(classes + L"CLSID\\" + GuidText(CLSID_httpHandler), 0, HKEY_CURRENT_USER));
  EXPECT_FALSE(KeyExists(classes + L"marlgate_travels.httpHandler\\CLSID", 0, HKEY_CURRENT_USER));
  EXPECT_FALSE(KeyExists(L"TypeLib\\" + GuidText(LIBID_marlgate_travels)));

  ::RegDeleteTreeW(HKEY_CURRENT_USER, (classes + L"marlgate_travels.httpHandler").c_str());
  ::RegDeleteTreeW(HKEY_CURRENT_USER, (classes + L"CLSID\\" + GuidText(CLSID_Main)).c_str());
  RestoreRegistration();
}

TEST_F(ComponentTest, TypeLibraryDescribesTheDispatchAndEventInterfaces) {
  ComPtr<ITypeLib> library;
  ASSERT_EQ(::LoadTypeLibEx(path_.c_str(), REGKIND_NONE, library.Receive()), S_OK);
  Bstr name;
  library->GetDocumentation(-1, name.Receive(), nullptr, nullptr, nullptr);
  EXPECT_EQ(name.str(), L"marlgate_travels");

  ComPtr<ITypeInfo> dispatch;
  ASSERT_EQ(library->GetTypeInfoOfGuid(IID__httpHandler, dispatch.Receive()), S_OK);
  struct Member {
    const wchar_t* name;
    DISPID id;
  };
  for (const Member& m : {Member{L"isRunning", 1}, Member{L"Abort", 2}, Member{L"PostRequest", 3},
                          Member{L"ReadyStateChange", DISPID_VALUE}}) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(m.name)};
    MEMBERID id = -1;
    EXPECT_EQ(dispatch->GetIDsOfNames(names, 1, &id), S_OK) << std::wstring(m.name).size();
    EXPECT_EQ(id, m.id);
  }
  // PostRequest's msTimeOut: optional, by reference, 240000 when omitted.
  ComPtr<ITypeInfo> dual;
  HREFTYPE dual_ref = 0;
  ASSERT_EQ(dispatch->GetRefTypeOfImplType(-1, &dual_ref), S_OK);
  ASSERT_EQ(dispatch->GetRefTypeInfo(dual_ref, dual.Receive()), S_OK);
  bool checked_default = false;
  for (UINT i = 0;; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(dual->GetFuncDesc(i, &function))) break;
    if (function->memid == 3) {
      ASSERT_EQ(function->cParams, 4);
      const PARAMDESC& time_out = function->lprgelemdescParam[3].paramdesc;
      EXPECT_TRUE(time_out.wParamFlags & PARAMFLAG_FOPT);
      ASSERT_TRUE(time_out.wParamFlags & PARAMFLAG_FHASDEFAULT);
      ScopedVariant value;
      ::VariantChangeType(value.get(), &time_out.pparamdescex->varDefaultValue, 0, VT_I4);
      EXPECT_EQ(value->lVal, 240000);
      checked_default = true;
    }
    dual->ReleaseFuncDesc(function);
  }
  EXPECT_TRUE(checked_default);

  // The events, and the document type of serverMessage from MSXML's library.
  ComPtr<ITypeInfo> events;
  ASSERT_EQ(library->GetTypeInfoOfGuid(DIID___httpHandler, events.Receive()), S_OK);
  for (const Member& m : {Member{L"serverMessage", 1}, Member{L"FailMessage", 2}}) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(m.name)};
    MEMBERID id = -1;
    EXPECT_EQ(events->GetIDsOfNames(names, 1, &id), S_OK);
    EXPECT_EQ(id, m.id);
  }
  FUNCDESC* server_message = nullptr;
  for (UINT i = 0; SUCCEEDED(events->GetFuncDesc(i, &server_message)); ++i) {
    if (server_message->memid == 1) break;
    events->ReleaseFuncDesc(server_message);
    server_message = nullptr;
  }
  ASSERT_NE(server_message, nullptr);
  const TYPEDESC* type = &server_message->lprgelemdescParam[0].tdesc;
  while (type->vt == VT_PTR) type = type->lptdesc;
  ASSERT_EQ(type->vt, VT_USERDEFINED);
  ComPtr<ITypeInfo> document;
  ASSERT_EQ(events->GetRefTypeInfo(type->hreftype, document.Receive()), S_OK);
  Bstr document_name;
  document->GetDocumentation(MEMBERID_NIL, document_name.Receive(), nullptr, nullptr, nullptr);
  EXPECT_EQ(document_name.str(), L"IXMLDOMDocument2");
  events->ReleaseFuncDesc(server_message);
}

// An event sink as a script would write one: it records the events of
// __httpHandler and may change the text it receives by reference.
class RecordingSink final : public IDispatch {
 public:
  std::vector<std::wstring> fail_messages;
  std::vector<std::wstring> documents;  // the root tag of each serverMessage
  std::wstring replace_with;            // when set, FailMessage's text becomes it
  std::function<void()> on_fail;        // runs inside each FailMessage

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    if (params == nullptr || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    VARIANT& argument = params->rgvarg[0];
    if (member == 2 && argument.vt == (VT_BSTR | VT_BYREF)) {
      fail_messages.push_back(Bstr::Adopt(::SysAllocString(*argument.pbstrVal)).str());
      if (on_fail) on_fail();
      if (!replace_with.empty()) {
        ::SysFreeString(*argument.pbstrVal);
        *argument.pbstrVal = ::SysAllocString(replace_with.c_str());
      }
      return S_OK;
    }
    if (member == 1 && argument.vt == (VT_DISPATCH | VT_BYREF)) {
      std::wstring tag = L"(none)";
      if (IDispatch* object = *argument.ppdispVal) {
        ComPtr<IXMLDOMDocument2> document;
        object->QueryInterface(platform::windows::kIidXmlDomDocument2, document.ReceiveVoid());
        ComPtr<IXMLDOMElement> root;
        if (document && SUCCEEDED(document->get_documentElement(root.Receive())) && root) {
          Bstr name;
          root->get_tagName(name.Receive());
          tag = name.str();
        }
      }
      documents.push_back(tag);
      return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  ULONG references_ = 1;
};

class HttpHandlerClient : public ComponentTest {
 protected:
  HttpHandlerClient() {
    Factory(CLSID_httpHandler)->CreateInstance(nullptr, IID_IDispatch, handler_.ReceiveVoid());
  }

  DISPID Id(const wchar_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(handler_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    return id;
  }

  bool IsRunning() {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ScopedVariant result;
    EXPECT_EQ(handler_->Invoke(Id(L"isRunning"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                               &none, result.Receive(), nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result->vt, VT_BOOL);
    return result->boolVal == VARIANT_TRUE;
  }

  // PostRequest(URL, Mode, ArgsArr[, msTimeOut]) by value, as a script
  // passes them; msTimeOut is left out when 0.
  HRESULT PostRequest(const std::string& url, const std::wstring& mode, const std::wstring& value,
                      int32_t time_out = 0) {
    ScopedVariant arguments[4] = {ScopedVariant::Long(time_out), ScopedVariant::Text(value),
                                  ScopedVariant::Text(mode),
                                  ScopedVariant::Text(platform::Utf8ToWide(url))};
    VARIANT raw[4] = {*arguments[0], *arguments[1], *arguments[2], *arguments[3]};
    const UINT count = time_out != 0 ? 4 : 3;
    DISPPARAMS params{time_out != 0 ? raw : raw + 1, nullptr, count, 0};
    return handler_->Invoke(Id(L"PostRequest"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                            &params, nullptr, nullptr, nullptr);
  }

  DWORD Advise(RecordingSink& sink) {
    ComPtr<IConnectionPointContainer> container =
        handler_.Query<IConnectionPointContainer>(IID_IConnectionPointContainer);
    EXPECT_TRUE(container);
    EXPECT_EQ(container->FindConnectionPoint(DIID___httpHandler, point_.Receive()), S_OK);
    DWORD cookie = 0;
    EXPECT_EQ(point_->Advise(&sink, &cookie), S_OK);
    return cookie;
  }

  void PumpUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!done() && std::chrono::steady_clock::now() < end) {
      platform::MessageLoop::Current().RunOnce(50ms);
    }
  }

  LoopbackServer server_;
  // Declared before the handler, so that they outlive its hold on them.
  RecordingSink first_;
  RecordingSink second_;
  ComPtr<IDispatch> handler_;
  ComPtr<IConnectionPoint> point_;
};

TEST_F(HttpHandlerClient, ARequestEndsInItsEventsToEverySink) {
  const std::string reply = "<search results=\"Harrow Ford|\"/>";
  server_.SetReply("/travel.php", {200, "OK", reply});
  RecordingSink& first = first_;
  RecordingSink& second = second_;
  first.replace_with = L"changed by the first sink";
  const DWORD first_cookie = Advise(first);
  Advise(second);
  EXPECT_FALSE(IsRunning());

  ASSERT_EQ(PostRequest(server_.Url("/travel.php"), L"search", L"harrow"), S_OK);
  EXPECT_TRUE(IsRunning());
  PumpUntil([&] { return !second.documents.empty(); });
  EXPECT_FALSE(IsRunning());

  EXPECT_EQ(first.fail_messages,
            (std::vector<std::wstring>{platform::Utf8ToWide(reply), L"Status 200"}));
  // The text passes by reference: later sinks see what an earlier one made of it.
  EXPECT_EQ(second.fail_messages, (std::vector<std::wstring>{L"changed by the first sink",
                                                             L"changed by the first sink"}));
  EXPECT_EQ(first.documents, (std::vector<std::wstring>{L"search"}));
  EXPECT_EQ(second.documents, (std::vector<std::wstring>{L"search"}));

  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("X-Plugin-Name"), "Marlgate_Travels");
  EXPECT_EQ(requests[0].body.rfind("&travel_action=search&Value=harrow&currentcharacter=&random= ", 0), 0u)
      << requests[0].body;

  // An unadvised sink hears nothing more; Abort ends a request silently.
  EXPECT_EQ(point_->Unadvise(first_cookie), S_OK);
  EXPECT_EQ(point_->Unadvise(first_cookie), CONNECT_E_NOCONNECTION);
  server_.SetReply("/silent", {200, "OK", "", "text/plain", true});
  ASSERT_EQ(PostRequest(server_.Url("/silent"), L"get", L"x"), S_OK);
  EXPECT_TRUE(IsRunning());
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(handler_->Invoke(Id(L"Abort"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                             nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_FALSE(IsRunning());
  platform::MessageLoop::Current().RunUntilIdle(300ms);
  EXPECT_EQ(second.fail_messages.size(), 2u);
  EXPECT_EQ(first.fail_messages.size(), 2u);

  // A given msTimeOut bounds the wait for a silent server. Its events go to
  // the sinks advised now: not to the one unadvised, and to one advised
  // since the last event.
  RecordingSink late;
  DWORD late_cookie = 0;
  ASSERT_EQ(point_->Advise(&late, &late_cookie), S_OK);
  ASSERT_EQ(PostRequest(server_.Url("/silent"), L"get", L"y", 100), S_OK);
  PumpUntil([&] { return second.fail_messages.size() >= 4; });
  EXPECT_EQ(std::vector<std::wstring>(second.fail_messages.begin() + 2, second.fail_messages.end()),
            (std::vector<std::wstring>{L"Timeout -- Current ready state: 2",
                                       L"Error: The server did not respond"}));
  EXPECT_EQ(late.fail_messages, std::vector<std::wstring>(second.fail_messages.begin() + 2,
                                                          second.fail_messages.end()));
  EXPECT_EQ(first.fail_messages.size(), 2u) << "an unadvised sink was called";
  EXPECT_FALSE(IsRunning());
  EXPECT_EQ(point_->Unadvise(late_cookie), S_OK);
}

// PostRequest called by name as scripts and automation clients call it:
// arguments last first, by reference, named, left out, omitted or Empty.
// What reaches the service, the no-response time, and the errors that tell
// a script which argument is wrong.
TEST_F(HttpHandlerClient, PostRequestByNameTakesItsArgumentsAsAutomationPassesThem) {
  server_.SetReply("/p", {200, "OK", "<x/>"});
  const std::wstring url = platform::Utf8ToWide(server_.Url("/p"));
  Bstr url_text(url), mode_text(L"search"), value_text(L"harrow");
  LONG time_out = 1700;
  ScopedVariant keep = ScopedVariant::Text(L"ford");
  BSTR url_raw = url_text.get(), mode_raw = mode_text.get();
  auto text = [](const std::wstring& t) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocStringLen(t.data(), static_cast<UINT>(t.size()));
    return v;
  };
  auto number = [](LONG n) { VARIANT v; ::VariantInit(&v); v.vt = VT_I4; v.lVal = n; return v; };
  auto omitted = [] { VARIANT v; ::VariantInit(&v); v.vt = VT_ERROR; v.scode = DISP_E_PARAMNOTFOUND; return v; };
  auto by_ref = [](VARTYPE type, void* target) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = type | VT_BYREF;
    v.byref = target;
    return v;
  };
  VARIANT omitted_value = omitted();
  VARIANT keep_by_ref = by_ref(VT_VARIANT, keep.get());
  VARIANT empty;
  ::VariantInit(&empty);
  struct Case {
    const char* name;
    std::vector<VARIANT> args;  // as rgvarg holds them: last first, named ones first
    std::vector<DISPID> named;
    HRESULT hr;
    UINT bad_argument;  // when the call fails (and names one)
    std::string body;   // the start of what reaches the service
    long interval;
  };
  const std::string search_harrow = "&travel_action=search&Value=harrow&";
  std::vector<Case> cases = {
      {"positional", {number(1500), text(L"harrow"), text(L"search"), text(url)}, {}, S_OK, 0,
       search_harrow, 1500},
      {"by reference",
       {by_ref(VT_I4, &time_out), by_ref(VT_VARIANT, keep.get()), by_ref(VT_BSTR, &mode_raw),
        by_ref(VT_BSTR, &url_raw)},
       {}, S_OK, 0, "&travel_action=search&Value=ford&", 1700},
      {"ArgsArr by reference twice", {number(1500), by_ref(VT_VARIANT, &keep_by_ref), text(L"search"), text(url)},
       {}, S_OK, 0, "&travel_action=search&Value=ford&", 1500},
      {"named, in any order", {text(url), number(1900), text(L"get"), text(L"harrow")}, {0, 3, 1, 2}, S_OK, 0,
       "&travel_action=get&Value=harrow&", 1900},
      {"msTimeOut Empty (JScript's undefined)", {empty, text(L"harrow"), text(L"search"), text(url)}, {}, S_OK,
       0, search_harrow, 240000},
      {"msTimeOut omitted", {omitted(), text(L"harrow"), text(L"search"), text(url)}, {}, S_OK, 0,
       search_harrow, 240000},
      {"msTimeOut omitted by reference", {by_ref(VT_VARIANT, &omitted_value), text(L"harrow"), text(L"search"),
       text(url)}, {}, S_OK, 0, search_harrow, 240000},
      {"no arguments", {}, {}, DISP_E_BADPARAMCOUNT, 0, "", 0},
      {"URL omitted", {text(L"harrow"), text(L"search"), omitted()}, {}, DISP_E_PARAMNOTOPTIONAL, 2, "", 0},
      {"Mode omitted by reference", {text(L"harrow"), by_ref(VT_VARIANT, &omitted_value), text(url)}, {},
       DISP_E_PARAMNOTOPTIONAL, 1, "", 0},
      // No argument stands in Mode's place: none is named as the wrong one.
      {"Mode not named", {text(url), text(L"harrow")}, {0, 2}, DISP_E_PARAMNOTOPTIONAL, 99, "", 0},
      {"msTimeOut not a number", {text(L"soon"), text(L"harrow"), text(L"search"), text(url)}, {},
       DISP_E_TYPEMISMATCH, 0, "", 0},
      {"a name of no parameter", {text(L"x"), text(L"search"), text(url)}, {7}, DISP_E_PARAMNOTFOUND, 0, "", 0},
  };
  for (Case& c : cases) {
    const size_t before = server_.Requests().size();
    DISPPARAMS params{c.args.data(), c.named.data(), static_cast<UINT>(c.args.size()),
                      static_cast<UINT>(c.named.size())};
    ScopedVariant result = ScopedVariant::Long(123);
    EXCEPINFO exception{};
    UINT bad_argument = 99;
    EXPECT_EQ(handler_->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.get(),
                               &exception, &bad_argument),
              c.hr)
        << c.name;
    EXPECT_EQ(result->vt, VT_EMPTY) << c.name;
    if (FAILED(c.hr)) {
      if (c.hr != DISP_E_BADPARAMCOUNT) {
        EXPECT_EQ(bad_argument, c.bad_argument) << c.name;
      }
    } else {
      EXPECT_EQ(windows_tests::LastStartedInterval(), c.interval) << c.name;
      PumpUntil([&] { return server_.Requests().size() > before; });
      const auto requests = server_.Requests();
      ASSERT_EQ(requests.size(), before + 1) << c.name;
      EXPECT_EQ(requests.back().body.rfind(c.body, 0), 0u) << c.name << ": " << requests.back().body;
    }
    for (VARIANT& v : c.args) {
      if ((v.vt & VT_BYREF) == 0) ::VariantClear(&v);
    }
  }
  // Every exchange ends, the dropped ones too: nothing is left for the
  // next test.
  PumpUntil([&] { return !IsRunning(); });
  platform::MessageLoop::Current().RunUntilIdle(500ms);
}

// A sink that an earlier sink unadvises during an event hears nothing more,
// not even the rest of that event.
TEST_F(HttpHandlerClient, ASinkUnadvisedDuringAnEventHearsNoMoreOfIt) {
  server_.SetReply("/travel.php", {200, "OK", "<search results=\"A|\"/>"});
  Advise(first_);
  const DWORD second_cookie = Advise(second_);
  first_.on_fail = [&] { point_->Unadvise(second_cookie); };
  ASSERT_EQ(PostRequest(server_.Url("/travel.php"), L"search", L"a"), S_OK);
  PumpUntil([&] { return !first_.documents.empty(); });
  EXPECT_EQ(first_.fail_messages.size(), 2u);
  EXPECT_TRUE(second_.fail_messages.empty());
  EXPECT_TRUE(second_.documents.empty());
}

// A script's `Set h = Nothing` inside its own event handler: the handler
// lets go of the last reference while the object is raising the event.
TEST_F(HttpHandlerClient, ASinkMayReleaseTheHandlerInsideAnEvent) {
  server_.SetReply("/travel.php", {200, "OK", "<search results=\"A|\"/>"});
  RecordingSink& sink = first_;
  Advise(sink);
  point_.reset();
  sink.on_fail = [this] { handler_.reset(); };
  ASSERT_EQ(PostRequest(server_.Url("/travel.php"), L"search", L"a"), S_OK);
  PumpUntil([&] { return !sink.fail_messages.empty(); });
  // Waits for the library to let go of everything (however slowly the
  // machine runs), not for a stretch of real time.
  PumpUntil([&] { return can_unload_now_() == S_OK; });
  // The object went when the event was over: nothing more reached the sink,
  // and nothing of the library is left alive.
  EXPECT_EQ(sink.fail_messages.size(), 1u);
  EXPECT_TRUE(sink.documents.empty());
  EXPECT_FALSE(handler_);
  EXPECT_EQ(can_unload_now_(), S_OK);
}

// Two requests finish close together; the first one's sink runs a message
// pump of its own (a script's message box). The second request's events
// must wait until the first sink has returned: one event at a time.
TEST_F(HttpHandlerClient, AnEventRunsToItsEndBeforeTheNextOne) {
  server_.SetReply("/a", {200, "OK", "<search results=\"A|\"/>"});
  server_.SetReply("/b", {200, "OK", "<search results=\"B|\"/>", "text/xml; charset=utf-8", false, 50});
  ComPtr<IDispatch> other;
  Factory(CLSID_httpHandler)->CreateInstance(nullptr, IID_IDispatch, other.ReceiveVoid());
  ASSERT_TRUE(other);
  RecordingSink& first = first_;
  RecordingSink& second = second_;
  Advise(first);
  ComPtr<IConnectionPoint> other_point;
  other.Query<IConnectionPointContainer>(IID_IConnectionPointContainer)
      ->FindConnectionPoint(DIID___httpHandler, other_point.Receive());
  DWORD cookie = 0;
  ASSERT_EQ(other_point->Advise(&second, &cookie), S_OK);
  bool inside = false;
  size_t heard_inside = 0;
  second.on_fail = [&] { heard_inside += inside ? 1 : 0; };
  first.on_fail = [&] {
    if (first.fail_messages.size() != 1) return;
    inside = true;
    const auto end = std::chrono::steady_clock::now() + 500ms;
    while (std::chrono::steady_clock::now() < end) {
      MSG message;
      while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
      ::Sleep(5);
    }
    inside = false;
  };
  ASSERT_EQ(PostRequest(server_.Url("/a"), L"search", L"a"), S_OK);
  std::swap(handler_, other);
  ASSERT_EQ(PostRequest(server_.Url("/b"), L"search", L"b"), S_OK);
  std::swap(handler_, other);
  PumpUntil([&] { return !first.documents.empty() && !second.documents.empty(); });
  EXPECT_EQ(heard_inside, 0u);
  EXPECT_EQ(first.documents, (std::vector<std::wstring>{L"search"}));
  EXPECT_EQ(second.documents, (std::vector<std::wstring>{L"search"}));
  other_point->Unadvise(cookie);
}

TEST_F(HttpHandlerClient, AnOmittedTimeOutIsTheDefault) {
  server_.SetReply("/silent", {200, "OK", "", "text/plain", true});
  ASSERT_EQ(PostRequest(server_.Url("/silent"), L"get", L"x"), S_OK);
  EXPECT_EQ(windows_tests::LastStartedInterval(), 240000);
  ASSERT_EQ(PostRequest(server_.Url("/silent"), L"get", L"x", 1500), S_OK);
  EXPECT_EQ(windows_tests::LastStartedInterval(), 1500);
}

TEST_F(HttpHandlerClient, TheDefaultMemberIsReadyStateChange) {
  RecordingSink& sink = first_;
  Advise(sink);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  // On an idle handler the request object is in state 0: nothing to report.
  EXPECT_EQ(handler_->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                             nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_TRUE(sink.fail_messages.empty());
  ComPtr<IProvideClassInfo> class_info = handler_.Query<IProvideClassInfo>(IID_IProvideClassInfo);
  ASSERT_TRUE(class_info);
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(class_info->GetClassInfo(coclass.Receive()), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&attributes), S_OK);
  EXPECT_TRUE(attributes->guid == CLSID_httpHandler);
  coclass->ReleaseTypeAttr(attributes);
}

TEST_F(ComponentTest, MainIsCreatedThroughTheRegistration) {
  KeepRegistration();
  ASSERT_EQ(register_server_(), S_OK);
  ComPtr<IPlugin2> main;
  ASSERT_EQ(::CoCreateInstance(CLSID_Main, nullptr, CLSCTX_INPROC_SERVER, IID_IPlugin2,
                               main.ReceiveVoid()),
            S_OK);
  // Without a site Main reports its failures in the log and still starts.
  EXPECT_EQ(main->Initialize(nullptr), S_OK);
  EXPECT_EQ(main->Terminate(), S_OK);
  main.reset();
  ComPtr<IDispatch> handler;
  EXPECT_EQ(::CoCreateInstance(CLSID_httpHandler, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               handler.ReceiveVoid()),
            S_OK);
  handler.reset();
  RestoreRegistration();
}

}  // namespace

namespace {

// A copy of the DLL in a folder of its own, loaded and unloaded for real
// (FreeLibrary) three times in one process. Each load makes Main write
// its error log and an httpHandler use the message loop; before each
// unload DllCanUnloadNow must have let go of all of it (the log closed, so
// the file can be deleted while the library is still loaded), and each
// load must work as the first did.
TEST(ComponentUnload, TheLibraryLetsGoOfItsStateAndLoadsAgain) {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"marlgate-unload-" +
                              std::to_wstring(::GetCurrentProcessId());
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring copy = folder + L"\\marlgate_travels.dll";
  const std::wstring log = folder + L"\\errors.txt";
  ASSERT_TRUE(::CopyFileW((BinFolder() + L"\\marlgate_travels.dll").c_str(), copy.c_str(), FALSE));
  LoopbackServer server;
  server.SetReply("/travel.php", {200, "OK", "<search results=\"A|\"/>"});

  for (int load = 1; load <= 3; ++load) {
    SCOPED_TRACE("load " + std::to_string(load));
    HMODULE module = ::LoadLibraryExW(copy.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(module, nullptr);
    auto get_class_object = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(::GetProcAddress(module, "DllGetClassObject")));
    auto can_unload_now = reinterpret_cast<NoArgumentFn>(
        reinterpret_cast<void*>(::GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_TRUE(get_class_object && can_unload_now);
    RecordingSink sink;
    {
      ComPtr<IClassFactory> mains;
      ComPtr<IClassFactory> handlers;
      ASSERT_EQ(get_class_object(CLSID_Main, IID_IClassFactory, mains.ReceiveVoid()), S_OK);
      ASSERT_EQ(get_class_object(CLSID_httpHandler, IID_IClassFactory, handlers.ReceiveVoid()), S_OK);
      ComPtr<IPlugin2> main;
      ASSERT_EQ(mains->CreateInstance(nullptr, IID_IPlugin2, main.ReceiveVoid()), S_OK);
      EXPECT_EQ(main->Initialize(nullptr), S_OK);  // no site: its failures go to the log
      ComPtr<IDispatch> handler;
      ASSERT_EQ(handlers->CreateInstance(nullptr, IID_IDispatch, handler.ReceiveVoid()), S_OK);
      ComPtr<IConnectionPoint> point;
      handler.Query<IConnectionPointContainer>(IID_IConnectionPointContainer)
          ->FindConnectionPoint(DIID___httpHandler, point.Receive());
      DWORD cookie = 0;
      ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
      ScopedVariant arguments[3] = {ScopedVariant::Text(L"a"), ScopedVariant::Text(L"search"),
                                    ScopedVariant::Text(platform::Utf8ToWide(server.Url("/travel.php")))};
      VARIANT raw[3] = {*arguments[0], *arguments[1], *arguments[2]};
      DISPPARAMS params{raw, nullptr, 3, 0};
      ASSERT_EQ(handler->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                nullptr, nullptr),
                S_OK);
      const auto end = std::chrono::steady_clock::now() + 10s;
      while (sink.documents.empty() && std::chrono::steady_clock::now() < end) {
        platform::MessageLoop::Current().RunOnce(50ms);
      }
      EXPECT_EQ(sink.documents, (std::vector<std::wstring>{L"search"}));
      point->Unadvise(cookie);
      EXPECT_EQ(can_unload_now(), S_FALSE);
    }
    EXPECT_EQ(can_unload_now(), S_OK);
    EXPECT_TRUE(::DeleteFileW(log.c_str())) << "the error log is still open (error " << ::GetLastError() << ")";
    // The loop's window class went with the loop.
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    EXPECT_FALSE(::GetClassInfoExW(module, L"MarlgateMessageLoop", &window_class));
    ASSERT_TRUE(::FreeLibrary(module));
    HMODULE still = nullptr;
    EXPECT_FALSE(::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, copy.c_str(), &still));
  }
  ::DeleteFileW(copy.c_str());
  ::RemoveDirectoryW(folder.c_str());
}

}  // namespace
