// The plug-in's COM server driven as a host drives it, in this process: a
// copy of marlgate_travels.dll loaded from a folder of its own (so each
// load starts with a fresh plug-in state and error log), given the
// reference host's site objects (host/windows), its requests sent to a
// loopback server through its connect-to setting. Also what only a second
// thread shows: the apartment the classes insist on, and another thread's
// message loop keeping the library loaded.

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/button.h"
#include "host/character_stats.h"
#include "host/check_box.h"
#include "host/event_sink.h"
#include "host/list.h"
#include "host/panel.h"
#include "host/site.h"
#include "host/text_box.h"
#include "host/view_factory.h"
#include "host/windows/host_objects.h"
#include "marlgate_host.h"
#include "marlgate_travels.h"
#include "platform/message_loop.h"
#include "platform/text.h"
#include "platform/windows/com_object.h"
#include "platform/windows/com_types.h"
#include "tests/windows/loopback_server.h"

namespace {

using namespace std::chrono_literals;
using platform::windows::Bstr;
using platform::windows::ComObject;
using platform::windows::ComPtr;
using platform::windows::ScopedVariant;
using windows_tests::LoopbackServer;

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using NoArgumentFn = HRESULT(STDAPICALLTYPE*)();

constexpr char kServicePath[] = "/marlgate_travels/travel.php";
constexpr char kSearchReply[] = "<search results=\"Harrow Ford|\"/>";

// No object of the library answers this interface.
constexpr IID kNoSuchInterface = {0x5e1f0c3a, 0x9d2b, 0x4c6e, {0x8a, 0x41, 0x2f, 0x7d, 0x90, 0x13, 0xb4, 0x66}};

std::wstring BinFolder() {
  wchar_t exe[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path(exe, length);
  return path.substr(0, path.find_last_of(L"\\/"));
}

class ChatRecorder final : public host::EventSink {
 public:
  void Chat(const std::wstring& text, int32_t, int32_t) override { chat.push_back(text); }
  void Command(const std::wstring&) override {}
  void PanelDump(const std::vector<host::ControlSnapshot>&) override {}
  void Echo(const std::wstring&) override {}
  void HostError(const std::wstring&) override {}

  std::vector<std::string> Errors() const {
    std::vector<std::string> errors;
    for (const std::wstring& line : chat) {
      if (line.find(L"Error #") != std::wstring::npos) errors.push_back(platform::WideToUtf8(line));
    }
    return errors;
  }

  std::vector<std::wstring> chat;
};

class PluginSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<LoopbackServer>();
    server_->SetReply(kServicePath, {200, "OK", kSearchReply});
    // Only the service's host goes to the loopback server.
    const std::wstring connect_to = platform::Utf8ToWide(MARLGATE_SERVICE_HOST) + L"::127.0.0.1:" +
                                    std::to_wstring(server_->port());
    ::SetEnvironmentVariableW(L"MARLGATE_CONNECT_TO", connect_to.c_str());
    Load();
  }

  void TearDown() override { Unload(); }

  // A fresh copy of the library, with the shipped view beside it.
  void Load() {
    static int loads = 0;
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"marlgate-site-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
              std::to_wstring(++loads);
    ::CreateDirectoryW(folder_.c_str(), nullptr);
    const std::wstring copy = folder_ + L"\\marlgate_travels.dll";
    ASSERT_TRUE(::CopyFileW((BinFolder() + L"\\marlgate_travels.dll").c_str(), copy.c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW((BinFolder() + L"\\Marlgate_Travels.xml").c_str(),
                            (folder_ + L"\\Marlgate_Travels.xml").c_str(), FALSE));
    ::DeleteFileW((folder_ + L"\\errors.txt").c_str());  // an earlier run's
    module_ = ::LoadLibraryExW(copy.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(module_, nullptr);
    get_class_object_ = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "DllGetClassObject")));
    can_unload_now_ = reinterpret_cast<NoArgumentFn>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "DllCanUnloadNow")));
    ASSERT_TRUE(get_class_object_ && can_unload_now_);
  }

  // Lets go of everything and unloads the copy once it agrees (a dropped
  // exchange may take a moment to end); a copy that never agrees stays.
  void Unload() {
    main_.reset();
    server_.reset();
    if (module_ == nullptr) return;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (can_unload_now_() != S_OK && std::chrono::steady_clock::now() < end) {
      platform::MessageLoop::Current().RunOnce(20ms);
    }
    if (can_unload_now_() == S_OK) ::FreeLibrary(module_);
    module_ = nullptr;
  }

  ComPtr<IClassFactory> Factory(const CLSID& clsid) {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(get_class_object_(clsid, IID_IClassFactory, factory.ReceiveVoid()), S_OK);
    return factory;
  }

  // A new Main, initialized with `site` (the reference host's by default).
  void StartMain(IHostSite* site = nullptr) {
    main_.reset();
    ASSERT_EQ(Factory(CLSID_Main)->CreateInstance(nullptr, IID_IPlugin2, main_.ReceiveVoid()), S_OK);
    ComPtr<IHostSite> host_site = host::windows::NewSiteObject(platform::Ref<hostapi::Site>(cpp_site_));
    ASSERT_EQ(main_->Initialize(site != nullptr ? site : host_site.get()), S_OK);
  }

  template <class T>
  std::shared_ptr<T> Control(const wchar_t* name) {
    return std::dynamic_pointer_cast<T>(cpp_site_->view_factory()->LastPanel()->Find(name));
  }

  void Search(const std::wstring& words) {
    Control<host::TextBox>(L"SearchText")->SetText(words);
    Control<host::Button>(L"SearchButton")->Click();
  }

  void PumpUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!done() && std::chrono::steady_clock::now() < end) {
      platform::MessageLoop::Current().RunOnce(20ms);
    }
  }

  // Whether the plug-in holds its error log open (it shares it with
  // nobody while it does).
  bool LogIsOpen() const {
    HANDLE file = ::CreateFileW((folder_ + L"\\errors.txt").c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_SHARING_VIOLATION;
    ::CloseHandle(file);
    return false;
  }

  // The headers of the error log, once the plug-in has closed it.
  size_t LogHeaders() const {
    HANDLE file = ::CreateFileW((folder_ + L"\\errors.txt").c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << "error " << ::GetLastError();
    std::string log;
    char buffer[4096];
    DWORD read = 0;
    while (file != INVALID_HANDLE_VALUE && ::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
      log.append(buffer, read);
    }
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    size_t headers = 0;
    for (size_t at = log.find("Error logging started"); at != std::string::npos;
         at = log.find("Error logging started", at + 1)) {
      ++headers;
    }
    return headers;
  }

  std::shared_ptr<ChatRecorder> chat_ = std::make_shared<ChatRecorder>();
  std::shared_ptr<host::Site> cpp_site_ = std::make_shared<host::Site>(chat_);
  std::unique_ptr<LoopbackServer> server_;
  std::wstring folder_;
  HMODULE module_ = nullptr;
  GetClassObjectFn get_class_object_ = nullptr;
  NoArgumentFn can_unload_now_ = nullptr;
  ComPtr<IPlugin2> main_;
};

// Asked while in use, the library answers no and keeps its state: the
// character's name goes with the next search, and the error log stays open
// (one header in it when the library has gone). In use: Main alive with a
// request in flight, or Main gone but its request's MSXML object still
// carrying the dropped exchange.
TEST_F(PluginSiteTest, AskingToUnloadWhileInUseKeepsTheCharacterAndTheLog) {
  for (const bool release_main : {false, true}) {
    SCOPED_TRACE(release_main ? "Main released, its exchange retired" : "Main alive, a request in flight");
    if (release_main) SetUp();
    StartMain();
    cpp_site_->character_stats()->SetName(L"Aldous");
    cpp_site_->character_stats()->RaiseLogin();
    Control<host::List>(L"SearchList")->Select(1, 99);  // no such row: an error, and the log opened
    ASSERT_TRUE(LogIsOpen());
    server_->SetReply(kServicePath, {200, "OK", "", "text/plain", true});
    Search(L"harrow");
    PumpUntil([&] { return server_->Requests().size() == 1; });
    ASSERT_EQ(server_->Requests().size(), 1u);
    if (release_main) {
      main_->Terminate();
      main_.reset();
    }

    EXPECT_EQ(can_unload_now_(), S_FALSE);
    EXPECT_TRUE(LogIsOpen());

    if (release_main) StartMain();
    server_->SetReply(kServicePath, {200, "OK", kSearchReply});
    Search(L"ford");
    PumpUntil([&] { return server_->Requests().size() == 2; });
    const auto requests = server_->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].body.find("&currentcharacter=Aldous&"), std::string::npos) << requests[1].body;
    Control<host::List>(L"SearchList")->Select(1, 99);
    main_->Terminate();
    Unload();
    EXPECT_EQ(LogHeaders(), 1u);
  }
}

// The plug-in's dual host interfaces, forwarding every call to the host's
// own object, as a host built on another framework might hand them out.
template <class I>
class Forwarding : public ComObject<I> {
 public:
  explicit Forwarding(ComPtr<I> inner) : inner_(std::move(inner)) {}
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return inner_->GetTypeInfoCount(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    return inner_->GetTypeInfo(index, locale, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override {
    return inner_->GetIDsOfNames(iid, names, count, locale, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* bad_argument) override {
    return inner_->Invoke(member, iid, locale, flags, params, result, exception, bad_argument);
  }

 protected:
  ComPtr<I> inner_;
};

// Which extra interfaces a control of each kind answers: the IIDs and the
// objects (of that other kind) that answer them.
using Extras = std::function<std::vector<std::pair<IID, ComPtr<IUnknown>>>(const IID& kind)>;

const IID* const kKinds[] = {&IID_IHostTextBox, &IID_IHostButton, &IID_IHostList, &IID_IHostLabel,
                             &IID_IHostCheckBox};

// A control that answers the interface of its kind (and everything else of
// the host's object) and also the extra ones.
class WideControl final : public Forwarding<IDispatch> {
 public:
  WideControl(ComPtr<IDispatch> inner, std::vector<std::pair<IID, ComPtr<IUnknown>>> extras)
      : Forwarding(std::move(inner)), extras_(std::move(extras)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    for (auto& [extra, object] : extras_) {
      if (iid == extra) return object->QueryInterface(iid, out);
    }
    if (iid == IID_IUnknown || iid == IID_IDispatch) return Forwarding::QueryInterface(iid, out);
    return inner_->QueryInterface(iid, out);
  }

 private:
  std::vector<std::pair<IID, ComPtr<IUnknown>>> extras_;
};

class WidePanel final : public Forwarding<IHostPanel> {
 public:
  WidePanel(ComPtr<IHostPanel> inner, Extras extras) : Forwarding(std::move(inner)), extras_(std::move(extras)) {}
  HRESULT STDMETHODCALLTYPE FindControl(BSTR name, IDispatch** control) override {
    ComPtr<IDispatch> found;
    const HRESULT hr = inner_->FindControl(name, found.Receive());
    if (FAILED(hr)) return hr;
    for (const IID* kind : kKinds) {
      if (found.Query<IUnknown>(*kind)) {
        *control = new WideControl(std::move(found), extras_(*kind));
        return S_OK;
      }
    }
    *control = found.Detach();
    return S_OK;
  }

 private:
  Extras extras_;
};

class WideFactory final : public Forwarding<IHostViewFactory> {
 public:
  WideFactory(ComPtr<IHostViewFactory> inner, Extras extras)
      : Forwarding(std::move(inner)), extras_(std::move(extras)) {}
  HRESULT STDMETHODCALLTYPE CreatePanel(BSTR view, IHostPanel** panel) override {
    ComPtr<IHostPanel> made;
    const HRESULT hr = inner_->CreatePanel(view, made.Receive());
    if (FAILED(hr)) return hr;
    *panel = new WidePanel(std::move(made), extras_);
    return S_OK;
  }

 private:
  Extras extras_;
};

class WideSite final : public Forwarding<IHostSite> {
 public:
  ComPtr<IDispatch> looked_up;  // the object the site handed out last

  WideSite(ComPtr<IHostSite> inner, Extras extras) : Forwarding(std::move(inner)), extras_(std::move(extras)) {}
  HRESULT STDMETHODCALLTYPE LookupObject(BSTR path, IDispatch** object) override {
    const HRESULT hr = inner_->LookupObject(path, object);
    if (SUCCEEDED(hr)) looked_up = ComPtr<IDispatch>::Share(*object);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetViewFactory(IHostViewFactory** factory) override {
    ComPtr<IHostViewFactory> inner;
    const HRESULT hr = inner_->GetViewFactory(inner.Receive());
    if (FAILED(hr)) return hr;
    *factory = new WideFactory(std::move(inner), extras_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetChatServices(IHostChatServices** chat) override {
    return inner_->GetChatServices(chat);
  }

 private:
  Extras extras_;
};

// The plug-in asks each control for the interface of the kind it expects:
// a control that also answers another kind's interface binds all the same.
TEST_F(PluginSiteTest, ControlsThatAnswerOtherKindsTooBindAsTheKindExpected) {
  // One host control of each kind, to answer the extra interfaces.
  ComPtr<IHostSite> site = host::windows::NewSiteObject(platform::Ref<hostapi::Site>(cpp_site_));
  ComPtr<IHostViewFactory> factory;
  ComPtr<IHostPanel> spare_panel;
  ASSERT_EQ(site->GetViewFactory(factory.Receive()), S_OK);
  ASSERT_EQ(factory->CreatePanel(Bstr(L"<view><textbox name=\"t\"/><button name=\"b\"/><list name=\"l\"/>"
                                      L"<label name=\"a\"/><checkbox name=\"c\"/></view>")
                                     .get(),
                                 spare_panel.Receive()),
            S_OK);
  std::vector<ComPtr<IUnknown>> spare;
  for (const wchar_t* name : {L"t", L"b", L"l", L"a", L"c"}) {
    ComPtr<IDispatch> control;
    ASSERT_EQ(spare_panel->FindControl(Bstr(name).get(), control.Receive()), S_OK);
    spare.push_back(control.Query<IUnknown>(IID_IUnknown));
  }
  auto answer = [&](std::initializer_list<int> kinds) {
    std::vector<std::pair<IID, ComPtr<IUnknown>>> extras;
    for (int kind : kinds) extras.emplace_back(*kKinds[kind], spare[kind]);
    return extras;
  };
  enum { kTextBox, kButton, kList, kLabel, kCheckBox };
  struct Case {
    const char* name;
    Extras extras;
  };
  const Case cases[] = {
      {"check boxes also answer IHostLabel",
       [&](const IID& kind) { return kind == IID_IHostCheckBox ? answer({kLabel}) : answer({}); }},
      {"labels also answer IHostTextBox",
       [&](const IID& kind) { return kind == IID_IHostLabel ? answer({kTextBox}) : answer({}); }},
      {"buttons and lists also answer IHostTextBox and IHostLabel",
       [&](const IID& kind) {
         return kind == IID_IHostButton || kind == IID_IHostList ? answer({kTextBox, kLabel}) : answer({});
       }},
      {"every control answers every kind",
       [&](const IID& kind) {
         std::vector<std::pair<IID, ComPtr<IUnknown>>> extras;
         for (int other = kTextBox; other <= kCheckBox; ++other) {
           if (*kKinds[other] != kind) extras.emplace_back(*kKinds[other], spare[other]);
         }
         return extras;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    chat_->chat.clear();
    auto wide = ComPtr<IHostSite>::Adopt(new WideSite(site, c.extras));
    StartMain(wide.get());
    EXPECT_EQ(chat_->Errors(), std::vector<std::string>{});
    // The bound controls work as their kinds: the check box is read, the
    // button heard, the list filled.
    Control<host::CheckBox>(L"WriteToChat")->SetChecked(true);
    Search(L"harrow");
    PumpUntil([&] { return Control<host::List>(L"SearchList")->Rows().size() == 1 &&
                           !chat_->chat.empty(); });
    EXPECT_EQ(chat_->Errors(), std::vector<std::string>{});
    EXPECT_FALSE(chat_->chat.empty());
    main_->Terminate();
    main_.reset();
  }
}

// Every COM object the library hands out answers an interface it does not
// have with E_NOINTERFACE and a null pointer, whatever the pointer held.
TEST_F(PluginSiteTest, EveryObjectRefusesAnUnknownInterfaceWithANullPointer) {
  ComPtr<IHostSite> host_site = host::windows::NewSiteObject(platform::Ref<hostapi::Site>(cpp_site_));
  auto site = ComPtr<WideSite>::Adopt(
      new WideSite(host_site, [](const IID&) { return std::vector<std::pair<IID, ComPtr<IUnknown>>>(); }));
  StartMain(site.get());
  ComPtr<IClassFactory> main_factory = Factory(CLSID_Main);
  ComPtr<IClassFactory> handler_factory = Factory(CLSID_httpHandler);
  ComPtr<IDispatch> handler;
  ASSERT_EQ(handler_factory->CreateInstance(nullptr, IID_IDispatch, handler.ReceiveVoid()), S_OK);
  ComPtr<IConnectionPointContainer> container =
      handler.Query<IConnectionPointContainer>(IID_IConnectionPointContainer);
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(DIID___httpHandler, point.Receive()), S_OK);
  ComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(container->EnumConnectionPoints(points.Receive()), S_OK);
  ComPtr<IEnumConnections> connections;
  ASSERT_EQ(point->EnumConnections(connections.Receive()), S_OK);
  // The plug-in's sink on the character filter, as the filter's connection
  // point lists it.
  ASSERT_TRUE(site->looked_up);
  ComPtr<IConnectionPoint> stats_point;
  site->looked_up.Query<IConnectionPointContainer>(IID_IConnectionPointContainer)
      ->FindConnectionPoint(DIID_DHostCharacterStatsEvents, stats_point.Receive());
  ASSERT_TRUE(stats_point);
  ComPtr<IEnumConnections> advised;
  ASSERT_EQ(stats_point->EnumConnections(advised.Receive()), S_OK);
  CONNECTDATA data{};
  ASSERT_EQ(advised->Next(1, &data, nullptr), S_OK);
  ComPtr<IUnknown> sink = ComPtr<IUnknown>::Adopt(data.pUnk);
  struct Object {
    const char* name;
    IUnknown* object;
  };
  const Object objects[] = {
      {"Main", main_.get()},
      {"httpHandler", handler.get()},
      {"Main's class factory", main_factory.get()},
      {"httpHandler's class factory", handler_factory.get()},
      {"httpHandler's connection point", point.get()},
      {"the enumerator of connection points", points.get()},
      {"the enumerator of connections", connections.get()},
      {"the plug-in's sink on the character filter", sink.get()},
  };
  for (const Object& o : objects) {
    ASSERT_NE(o.object, nullptr) << o.name;
    int dummy = 0;
    void* out = &dummy;
    EXPECT_EQ(o.object->QueryInterface(kNoSuchInterface, &out), E_NOINTERFACE) << o.name;
    EXPECT_EQ(out, nullptr) << o.name;
  }
  main_->Terminate();
}

// A sink that unadvises in its own destructor, reaching the source through
// the source's container while the source is being destroyed (its last
// reference gone, its sinks let go of): the source's count goes up and
// down again, and the source must be deleted once.
class UnadvisingSink final : public ComObject<IDispatch> {
 public:
  UnadvisingSink(IConnectionPointContainer* source, DWORD* cookie) : source_(source), cookie_(cookie) {}
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return S_OK;
  }

 private:
  ~UnadvisingSink() override {
    IConnectionPoint* point = nullptr;
    if (SUCCEEDED(source_->FindConnectionPoint(DIID___httpHandler, &point))) {
      point->Unadvise(*cookie_);
      point->Release();
    }
  }
  IConnectionPointContainer* source_;  // not held: the source holds this sink
  DWORD* cookie_;
};

TEST_F(PluginSiteTest, ASinkThatUnadvisesFromItsDestructorDoesNotDeleteTheSourceTwice) {
  IConnectionPointContainer* handler = nullptr;
  ASSERT_EQ(Factory(CLSID_httpHandler)
                ->CreateInstance(nullptr, IID_IConnectionPointContainer, reinterpret_cast<void**>(&handler)),
            S_OK);
  DWORD cookie = 0;
  {
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(handler->FindConnectionPoint(DIID___httpHandler, point.Receive()), S_OK);
    auto sink = ComPtr<UnadvisingSink>::Adopt(new UnadvisingSink(handler, &cookie));
    ASSERT_EQ(point->Advise(sink.get(), &cookie), S_OK);
  }
  EXPECT_EQ(handler->Release(), 0u);
  // Counted out once: nothing of the library is left alive.
  EXPECT_EQ(can_unload_now_(), S_OK);
}

// The classes live in single-threaded apartments: a thread of the
// multi-threaded apartment (or without COM) is refused, and no object is
// made there. A thread with a loop of the library keeps it loaded until
// that loop has gone (its window would call the library's code).
TEST_F(PluginSiteTest, ClassesRefuseOtherApartmentsAndAnotherThreadsLoopKeepsTheLibrary) {
  for (const bool with_com : {true, false}) {
    std::thread([&] {
      if (with_com) {
        ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
      }
      for (const CLSID* clsid : {&CLSID_Main, &CLSID_httpHandler}) {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(get_class_object_(*clsid, IID_IClassFactory, factory.ReceiveVoid()), S_OK);
        int dummy = 0;
        void* object = &dummy;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &object), RPC_E_WRONG_THREAD)
            << (with_com ? "multi-threaded apartment" : "no COM");
        EXPECT_EQ(object, nullptr);
      }
      if (with_com) ::CoUninitialize();
    }).join();
  }
  EXPECT_EQ(can_unload_now_(), S_OK);

  // Another single-threaded apartment makes an httpHandler and sends (its
  // loop is made), waits for the exchange's end, lets the object go and
  // waits.
  HANDLE made = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE finish = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const std::wstring url = platform::Utf8ToWide(server_->Url("/other"));
  server_->SetReply("/other", {200, "OK", "<x/>"});
  std::thread other([&] {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      ComPtr<IDispatch> handler;
      ComPtr<IClassFactory> factory;
      get_class_object_(CLSID_httpHandler, IID_IClassFactory, factory.ReceiveVoid());
      EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, handler.ReceiveVoid()), S_OK);
      if (!handler) return ::SetEvent(made), void();
      ScopedVariant arguments[3] = {ScopedVariant::Text(L"x"), ScopedVariant::Text(L"get"),
                                    ScopedVariant::Text(url)};
      VARIANT raw[3] = {*arguments[0], *arguments[1], *arguments[2]};
      DISPPARAMS params{raw, nullptr, 3, 0};
      EXPECT_EQ(handler->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                nullptr, nullptr),
                S_OK);
      auto running = [&] {
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        ScopedVariant result;
        handler->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result.Receive(),
                        nullptr, nullptr);
        return result->vt == VT_BOOL && result->boolVal != VARIANT_FALSE;
      };
      const auto end = std::chrono::steady_clock::now() + 10s;
      while (running() && std::chrono::steady_clock::now() < end) {
        platform::MessageLoop::Current().RunOnce(20ms);
      }
      EXPECT_FALSE(running());
    }
    ::SetEvent(made);
    ::WaitForSingleObject(finish, INFINITE);
    // The thread lets go of the library as a host's thread does.
    can_unload_now_();
    ::CoUninitialize();
  });
  ::WaitForSingleObject(made, INFINITE);
  EXPECT_EQ(can_unload_now_(), S_FALSE) << "another thread's loop window is alive";
  ::SetEvent(finish);
  other.join();
  EXPECT_EQ(can_unload_now_(), S_OK) << "the other thread has ended";
  ::CloseHandle(made);
  ::CloseHandle(finish);
}

}  // namespace
