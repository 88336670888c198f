// The reference host's side of the host contract, driven as a plug-in
// drives it: through the vtables and late-bound by name (GetIDsOfNames and
// Invoke), events through connection points, errors as FACILITY_CONTROL
// numbers with error information, and the Timer class through
// CoCreateInstance, registered for the process or by marlgate_host.dll.

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "host/button.h"
#include "host/check_box.h"
#include "host/event_sink.h"
#include "host/label.h"
#include "host/list.h"
#include "host/panel.h"
#include "host/site.h"
#include "host/text_box.h"
#include "host/windows/host_objects.h"
#include "host/windows/timer_class_registration.h"
#include "host/windows/timer_object.h"
#include "marlgate_host.h"
#include "platform/message_loop.h"
#include "platform/text.h"
#include "platform/windows/com_object.h"
#include "platform/windows/com_types.h"
#include "platform/windows/connection_point.h"

namespace {

using namespace std::chrono_literals;
using platform::windows::Bstr;
using platform::windows::ComPtr;
using platform::windows::ScopedVariant;
using platform::windows::SinkConnection;

constexpr HRESULT kInvalidArgument = static_cast<HRESULT>(0x800A0005);
constexpr HRESULT kOverflow = static_cast<HRESULT>(0x800A0006);
constexpr HRESULT kTypeMismatch = static_cast<HRESULT>(0x800A000D);
constexpr wchar_t kView[] =
    L"<view><textbox name=\"Box\"/><page label=\"p\"><button name=\"Go\"/><list name=\"Rows\"/>"
    L"</page><label name=\"Note\"/><checkbox name=\"Tick\"/></view>";

// The chat lines and commands the host's chat services were given.
class ChatRecorder final : public host::EventSink {
 public:
  void Chat(const std::wstring& text, int32_t colour, int32_t window) override {
    chat.push_back(text + L"|" + std::to_wstring(colour) + L"|" + std::to_wstring(window));
  }
  void Command(const std::wstring& text) override { commands.push_back(text); }
  void PanelDump(const std::vector<host::ControlSnapshot>&) override {}
  void Echo(const std::wstring&) override {}
  void HostError(const std::wstring&) override {}

  std::vector<std::wstring> chat;
  std::vector<std::wstring> commands;
};

// An event sink as a plug-in's is: a bare IDispatch. It records each call
// (member and arguments, first argument first) and runs `during_call`
// inside it.
class RecordingSink final : public platform::windows::ComObject<IDispatch> {
 public:
  struct Call {
    DISPID member;
    std::vector<VARIANT> arguments;  // longs and the timer's IDispatch, not owned
  };

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    Call call{member, {}};
    for (UINT i = params->cArgs; i > 0; --i) call.arguments.push_back(params->rgvarg[i - 1]);
    calls.push_back(call);
    if (during_call) during_call();
    return S_OK;
  }

  std::vector<Call> calls;
  std::function<void()> during_call;
};

ComPtr<RecordingSink> NewSink() { return ComPtr<RecordingSink>::Adopt(new RecordingSink()); }

// A late-bound argument or result value: a long or a text.
using Arg = std::variant<int32_t, std::wstring>;

struct Outcome {
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = E_FAIL;
  ScopedVariant result;
  Bstr description;  // of the EXCEPINFO
  Bstr source;
};

// Calls `name` on `object` as a script host does: the dispatch id by name,
// then Invoke with the arguments (given first to last).
Outcome CallByName(IDispatch* object, const wchar_t* name, WORD flags,
                   const std::vector<Arg>& args = {}) {
  Outcome outcome;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  outcome.hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &outcome.id);
  if (FAILED(outcome.hr)) return outcome;
  std::vector<ScopedVariant> values;
  for (auto it = args.rbegin(); it != args.rend(); ++it) {
    const auto* number = std::get_if<int32_t>(&*it);
    values.push_back(number ? ScopedVariant::Long(*number)
                            : ScopedVariant::Text(std::get<std::wstring>(*it)));
  }
  std::vector<VARIANT> raw;
  for (ScopedVariant& v : values) raw.push_back(*v);
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{raw.data(), nullptr, static_cast<UINT>(raw.size()), 0};
  if (flags == DISPATCH_PROPERTYPUT) params = {raw.data(), &put, static_cast<UINT>(raw.size()), 1};
  EXCEPINFO exception{};
  UINT bad_argument = 0;
  outcome.hr = object->Invoke(outcome.id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                              outcome.result.Receive(), &exception, &bad_argument);
  outcome.description = Bstr::Adopt(exception.bstrDescription);
  outcome.source = Bstr::Adopt(exception.bstrSource);
  ::SysFreeString(exception.bstrHelpFile);
  return outcome;
}

// Whether `v` holds `expected`: VT_DISPATCH any object, VT_EMPTY nothing,
// else the type and value.
void ExpectValue(const VARIANT& v, VARTYPE vt, const Arg& expected, const std::string& what) {
  EXPECT_EQ(v.vt, vt) << what;
  if (v.vt != vt) return;
  if (vt == VT_DISPATCH) {
    EXPECT_NE(v.pdispVal, nullptr) << what;
  }
  if (vt == VT_BSTR) {
    EXPECT_EQ(Bstr(std::wstring_view(v.bstrVal ? v.bstrVal : L"", ::SysStringLen(v.bstrVal))).str(),
              std::get<std::wstring>(expected))
        << what;
  }
  if (vt == VT_I4) {
    EXPECT_EQ(v.lVal, std::get<int32_t>(expected)) << what;
  }
  if (vt == VT_BOOL) {
    EXPECT_EQ(v.boolVal, std::get<int32_t>(expected)) << what;
  }
}

// Every object of the contract, reached through the site's vtable as a
// plug-in reaches them (the timer made directly), and the host's C++
// objects behind them.
class HostContractTest : public ::testing::Test {
 protected:
  enum Object {
    kSite,
    kFactory,
    kPanel,
    kBox,
    kButton,
    kList,
    kLabel,
    kTick,
    kChat,
    kStats,
    kTimer
  };

  void SetUp() override {
    auto site = host::windows::NewSiteObject(platform::Ref<hostapi::Site>(cpp_site_));
    ComPtr<IHostViewFactory> factory;
    ComPtr<IHostPanel> panel;
    ComPtr<IHostChatServices> chat;
    ASSERT_EQ(site->GetViewFactory(factory.Receive()), S_OK);
    ASSERT_EQ(factory->CreatePanel(Bstr(kView).get(), panel.Receive()), S_OK);
    ASSERT_EQ(site->GetChatServices(chat.Receive()), S_OK);
    const Bstr stats_path(hostapi::kCharacterStatsPath);
    ASSERT_EQ(site->LookupObject(stats_path.get(), objects_[kStats].Receive()), S_OK);
    const wchar_t* names[] = {L"Box", L"Go", L"Rows", L"Note", L"Tick"};
    for (int i = 0; i < 5; ++i) {
      ASSERT_EQ(panel->FindControl(Bstr(names[i]).get(), objects_[kBox + i].Receive()), S_OK);
    }
    objects_[kSite] = ComPtr<IDispatch>::Adopt(site.Detach());
    objects_[kFactory] = ComPtr<IDispatch>::Adopt(factory.Detach());
    objects_[kPanel] = ComPtr<IDispatch>::Adopt(panel.Detach());
    objects_[kChat] = ComPtr<IDispatch>::Adopt(chat.Detach());
    objects_[kTimer] = ComPtr<IDispatch>::Adopt(host::windows::NewTimerObject().Detach());
    cpp_panel_ = cpp_site_->view_factory()->LastPanel();
  }

  template <class I>
  ComPtr<I> As(Object object) const {
    return objects_[object].Query<I>(__uuidof(I));
  }
  template <class T>
  std::shared_ptr<T> Cpp(const wchar_t* name) const {
    return std::dynamic_pointer_cast<T>(cpp_panel_->Find(name));
  }

  std::shared_ptr<ChatRecorder> chat_ = std::make_shared<ChatRecorder>();
  std::shared_ptr<host::Site> cpp_site_ = std::make_shared<host::Site>(chat_);
  std::shared_ptr<host::Panel> cpp_panel_;
  ComPtr<IDispatch> objects_[kTimer + 1];
};

TEST_F(HostContractTest, EachControlOffersTheInterfaceOfItsKindOnly) {
  const IID* kinds[] = {&IID_IHostTextBox, &IID_IHostButton, &IID_IHostList, &IID_IHostLabel,
                        &IID_IHostCheckBox};
  for (int control = 0; control < 5; ++control) {
    for (int kind = 0; kind < 5; ++kind) {
      EXPECT_EQ(static_cast<bool>(objects_[kBox + control].Query<IUnknown>(*kinds[kind])),
                kind == control)
          << "control " << control << ", kind " << kind;
    }
    const bool has_events = kBox + control == kButton || kBox + control == kList;
    EXPECT_EQ(
        static_cast<bool>(objects_[kBox + control].Query<IUnknown>(IID_IConnectionPointContainer)),
        has_events);
  }
}

TEST_F(HostContractTest, VtableMembersReachTheHostObjects) {
  Cpp<host::TextBox>(L"Box")->SetText(L"typed");
  Cpp<host::CheckBox>(L"Tick")->SetChecked(true);
  cpp_site_->character_stats()->SetName(L"Aldous");
  Bstr box, name, label;
  VARIANT_BOOL ticked = VARIANT_FALSE, running_after_start = VARIANT_FALSE, running = VARIANT_TRUE;
  ScopedVariant cell;
  const HRESULT results[] = {
      As<IHostTextBox>(kBox)->get_Text(box.Receive()),
      As<IHostCheckBox>(kTick)->get_Checked(&ticked),
      As<IHostCharacterStats>(kStats)->get_Name(name.Receive()),
      As<IHostLabel>(kLabel)->put_Text(Bstr(L"Bridge").get()),
      As<IHostLabel>(kLabel)->get_Text(label.Receive()),
      As<IHostChatServices>(kChat)->WriteToChat(Bstr(L"Walk north").get(), 14, 2),
      As<IHostChatServices>(kChat)->ParseChatCommand(Bstr(L"/a hello").get()),
      As<IHostList>(kList)->InsertRow(0),
      As<IHostList>(kList)->InsertRow(0),
      As<IHostList>(kList)->SetCell(1, 1, 1, *ScopedVariant::Long(100667896)),
      As<IHostList>(kList)->DeleteRow(0),
      As<IHostList>(kList)->GetCell(1, 0, 1, cell.Receive()),
      As<IHostList>(kList)->InsertRow(0),
      As<IHostList>(kList)->Clear(),
      As<IHostTimer>(kTimer)->Start(50),
      As<IHostTimer>(kTimer)->get_Running(&running_after_start),
      As<IHostTimer>(kTimer)->Stop(),
      As<IHostTimer>(kTimer)->get_Running(&running),
  };
  for (size_t i = 0; i < std::size(results); ++i) EXPECT_EQ(results[i], S_OK) << "call " << i;
  EXPECT_EQ(box.str(), L"typed");
  EXPECT_EQ(ticked, VARIANT_TRUE);
  EXPECT_EQ(name.str(), L"Aldous");
  EXPECT_EQ(label.str(), L"Bridge");
  EXPECT_EQ(Cpp<host::Label>(L"Note")->Text(), L"Bridge");
  EXPECT_EQ(chat_->chat, std::vector<std::wstring>{L"Walk north|14|2"});
  EXPECT_EQ(chat_->commands, std::vector<std::wstring>{L"/a hello"});
  ExpectValue(*cell, VT_I4, 100667896, "the cell of the row that moved up");
  EXPECT_EQ(Cpp<host::List>(L"Rows")->RowCount(), 0);
  EXPECT_EQ(running_after_start, VARIANT_TRUE);
  EXPECT_EQ(running, VARIANT_FALSE);
  EXPECT_EQ(As<IHostLabel>(kLabel)->put_Text(nullptr), S_OK);
  EXPECT_EQ(Cpp<host::Label>(L"Note")->Text(), L"") << "a null BSTR is the empty text";
}

TEST_F(HostContractTest, LateBoundMembersByName) {
  Cpp<host::TextBox>(L"Box")->SetText(L"typed");
  Cpp<host::CheckBox>(L"Tick")->SetChecked(true);
  cpp_site_->character_stats()->SetName(L"Aldous");
  const std::wstring stats_path = hostapi::kCharacterStatsPath;
  constexpr WORD kCall = DISPATCH_METHOD, kGet = DISPATCH_PROPERTYGET, kPut = DISPATCH_PROPERTYPUT;
  struct Case {
    Object object;
    const wchar_t* member;
    DISPID id;
    WORD flags;
    std::vector<Arg> args;
    VARTYPE vt;  // of the result
    Arg value = 0;
  };
  const Case cases[] = {
      {kSite, L"LookupObject", 1, kCall, {stats_path}, VT_DISPATCH},
      {kSite, L"GetViewFactory", 2, kCall, {}, VT_DISPATCH},
      {kSite, L"GetChatServices", 3, kCall, {}, VT_DISPATCH},
      {kFactory, L"CreatePanel", 1, kCall, {L"<view><label name=\"L\"/></view>"}, VT_DISPATCH},
      {kPanel, L"FindControl", 1, kCall, {L"Rows"}, VT_DISPATCH},
      {kBox, L"Text", 1, kGet, {}, VT_BSTR, L"typed"},
      {kLabel, L"Text", 1, kPut, {L"Ford"}, VT_EMPTY},
      {kLabel, L"Text", 1, kGet, {}, VT_BSTR, L"Ford"},
      {kTick, L"Checked", 1, kGet, {}, VT_BOOL, VARIANT_TRUE},
      {kChat, L"WriteToChat", 1, kCall, {L"Hi", 7, 1}, VT_EMPTY},
      {kChat, L"ParseChatCommand", 2, kCall, {L"/t x"}, VT_EMPTY},
      {kStats, L"Name", 1, kGet, {}, VT_BSTR, L"Aldous"},
      {kList, L"InsertRow", 2, kCall, {0}, VT_EMPTY},
      {kList, L"SetCell", 4, kCall, {0, 0, 0, L"Alpha"}, VT_EMPTY},
      {kList, L"GetCell", 5, kCall, {0, 0, 0}, VT_BSTR, L"Alpha"},
      {kList, L"GetCell", 5, kCall, {3, 0, 2}, VT_EMPTY},
      {kList, L"DeleteRow", 3, kCall, {0}, VT_EMPTY},
      {kList, L"Clear", 1, kCall, {}, VT_EMPTY},
      {kTimer, L"Start", 1, kCall, {1000}, VT_EMPTY},
      {kTimer, L"Running", 3, kGet, {}, VT_BOOL, VARIANT_TRUE},
      {kTimer, L"Stop", 2, kCall, {}, VT_EMPTY},
      {kTimer, L"Running", 3, kGet, {}, VT_BOOL, VARIANT_FALSE},
  };
  for (const Case& c : cases) {
    Outcome outcome = CallByName(objects_[c.object].get(), c.member, c.flags, c.args);
    ASSERT_EQ(outcome.hr, S_OK) << c.member;
    EXPECT_EQ(outcome.id, c.id) << c.member;
    ExpectValue(*outcome.result, c.vt, c.value, platform::WideToUtf8(c.member));
  }
  EXPECT_EQ(Cpp<host::Label>(L"Note")->Text(), L"Ford");
  EXPECT_EQ(chat_->chat, std::vector<std::wstring>{L"Hi|7|1"});
  EXPECT_EQ(chat_->commands, std::vector<std::wstring>{L"/t x"});
  EXPECT_EQ(Cpp<host::List>(L"Rows")->RowCount(), 0);
}

// Each event, raised through the host's C++ side, reaches every sink
// advised on the object's connection point with the event's dispatch id
// and arguments, and stops reaching a sink after its Unadvise, even one that
// another sink unadvises during the event it was to hear. A sink that
// drops the last reference to the source inside the event (the common
// `Set x = Nothing`) is safe: the next sink still gets the event from a
// live object, which goes when the event ends.
TEST_F(HostContractTest, EventsReachAdvisedSinksAndMayReleaseTheirSource) {
  auto& loop = platform::MessageLoop::Current();
  const size_t idle_work = loop.PendingWork();
  // The timer's events come from Advance alone: with the clock held, real
  // time spent on the cases before it cannot make it due more often.
  loop.HoldClock(true);
  struct Release {
    ~Release() { platform::MessageLoop::Current().HoldClock(false); }
  } release;
  auto button = Cpp<host::Button>(L"Go");
  auto list = Cpp<host::List>(L"Rows");
  auto stats = cpp_site_->character_stats();
  ASSERT_EQ(As<IHostTimer>(kTimer)->Start(20), S_OK);
  struct Case {
    Object object;
    const IID& events;
    std::function<void()> raise;
    std::vector<int32_t> longs;  // the arguments; the timer's one is itself
    std::function<bool()> gone;  // the COM object has let go of the C++ one
  };
  const Case cases[] = {
      {kButton, DIID_DHostButtonEvents, [&] { button->Click(); }, {button->id()},
       [&] { return !button->Accepted.HasHandlers(); }},
      {kList, DIID_DHostListEvents, [&] { list->Select(3, -1); }, {list->id(), 3, -1},
       [&] { return !list->Change.HasHandlers(); }},
      {kStats, DIID_DHostCharacterStatsEvents, [&] { stats->RaiseLogin(); }, {0},
       [&] { return !stats->Login.HasHandlers(); }},
      {kTimer, DIID_DHostTimerEvents, [&] { loop.Advance(20ms); }, {},
       [&] { return loop.PendingWork() == idle_work; }},
  };
  for (const Case& c : cases) {
    ComPtr<RecordingSink> first = NewSink(), second = NewSink();
    SinkConnection first_connection(objects_[c.object].get(), c.events, first->Identity());
    {
      SinkConnection second_connection(objects_[c.object].get(), c.events, second->Identity());
      c.raise();
    }
    c.raise();
    first_connection.Reset();
    c.raise();
    ASSERT_EQ(first->calls.size(), 2u) << c.object;
    EXPECT_EQ(second->calls.size(), 1u) << c.object;
    for (const RecordingSink::Call& call : first->calls) {
      EXPECT_EQ(call.member, 1) << c.object;
      if (c.object == kTimer) {
        ASSERT_EQ(call.arguments.size(), 1u);
        EXPECT_EQ(call.arguments[0].vt, VT_DISPATCH);
        EXPECT_EQ(call.arguments[0].pdispVal, objects_[kTimer].get()) << "the source is the timer";
        continue;
      }
      ASSERT_EQ(call.arguments.size(), c.longs.size()) << c.object;
      for (size_t i = 0; i < c.longs.size(); ++i) {
        ExpectValue(call.arguments[i], VT_I4, c.longs[i], "argument " + std::to_string(i));
      }
    }
    {
      ComPtr<RecordingSink> unadvising = NewSink(), unadvised = NewSink();
      SinkConnection earlier(objects_[c.object].get(), c.events, unadvising->Identity());
      SinkConnection later(objects_[c.object].get(), c.events, unadvised->Identity());
      unadvising->during_call = [&] { later.Reset(); };
      c.raise();
      EXPECT_EQ(unadvising->calls.size(), 1u) << c.object;
      EXPECT_TRUE(unadvised->calls.empty()) << c.object << ": unadvised before its turn";
    }

    // Advised for good (the connections go with the object), the first sink
    // releasing the object.
    ComPtr<RecordingSink> releasing = NewSink(), later = NewSink();
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(
        As<IConnectionPointContainer>(c.object)->FindConnectionPoint(c.events, point.Receive()),
        S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(releasing->Identity(), &cookie), S_OK);
    ASSERT_EQ(point->Advise(later->Identity(), &cookie), S_OK);
    point.reset();
    releasing->during_call = [&] { objects_[c.object].reset(); };
    bool alive_for_later = false;
    later->during_call = [&] { alive_for_later = !c.gone(); };
    c.raise();
    EXPECT_EQ(later->calls.size(), 1u) << c.object;
    EXPECT_TRUE(alive_for_later) << c.object << ": the source lives to the end of its event";
    EXPECT_TRUE(c.gone()) << c.object << ": the source goes when its event ends";
  }
}

// A failing call returns the host's error number in FACILITY_CONTROL with
// the host's text as error information from "marlgate-host", and so called
// by name gives DISP_E_EXCEPTION with them in the EXCEPINFO.
TEST_F(HostContractTest, FailuresCarryTheHostsNumberAndText) {
  struct Case {
    Object object;
    const IID& iid;
    const wchar_t* member;
    std::vector<Arg> args;
    HRESULT hr;
    const wchar_t* text;
  };
  const Case cases[] = {
      {kSite,
       IID_IHostSite,
       L"LookupObject",
       {L"services\\none"},
       kInvalidArgument,
       L"No object registered at services\\none"},
      {kPanel,
       IID_IHostPanel,
       L"FindControl",
       {L"Nope"},
       kInvalidArgument,
       L"No control named Nope"},
      {kFactory,
       IID_IHostViewFactory,
       L"CreatePanel",
       {L"<other/>"},
       kInvalidArgument,
       L"Invalid view: the root element is not <view>"},
      {kList, IID_IHostList, L"InsertRow", {1}, kInvalidArgument, L"Invalid argument"},
      {kList, IID_IHostList, L"DeleteRow", {0}, kInvalidArgument, L"Invalid argument"},
      {kList, IID_IHostList, L"GetCell", {0, 0, 0}, kInvalidArgument, L"Invalid argument"},
      {kTimer, IID_IHostTimer, L"Start", {-1}, kInvalidArgument, L"Invalid argument"},
  };
  for (const Case& c : cases) {
    Outcome outcome = CallByName(objects_[c.object].get(), c.member, DISPATCH_METHOD, c.args);
    EXPECT_EQ(outcome.hr, DISP_E_EXCEPTION) << c.member;
    EXPECT_EQ(outcome.description.str(), c.text) << c.member;
    EXPECT_EQ(outcome.source.str(), L"marlgate-host") << c.member;
    EXPECT_EQ(As<ISupportErrorInfo>(c.object)->InterfaceSupportsErrorInfo(c.iid), S_OK);
  }
  // Through the vtable: the number itself, the text from GetErrorInfo.
  ComPtr<IDispatch> none;
  EXPECT_EQ(As<IHostPanel>(kPanel)->FindControl(Bstr(L"Nope").get(), none.Receive()),
            kInvalidArgument);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(::GetErrorInfo(0, info.Receive()), S_OK);
  Bstr text;
  info->GetDescription(text.Receive());
  EXPECT_EQ(text.str(), L"No control named Nope");
  VARIANT_BOOL running = VARIANT_TRUE;
  As<IHostTimer>(kTimer)->get_Running(&running);
  EXPECT_EQ(running, VARIANT_FALSE) << "a refused Start leaves the timer as it was";
}

VARIANT Raw(VARTYPE vt, LONGLONG bits = 0) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = vt;
  v.llVal = bits;  // the integer members share their low bytes
  return v;
}

// List cells take what the host's cells hold: text, 32-bit integers (from
// any integer type whose value fits) or nothing; anything else is refused
// and leaves the cell as it was.
TEST_F(HostContractTest, ListCellsTakeTextIntegersOrNothing) {
  auto list = As<IHostList>(kList);
  ASSERT_EQ(list->InsertRow(0), S_OK);
  const Bstr alpha(L"Alpha"), beta(L"Beta");
  BSTR beta_slot = beta.get();
  VARIANT inner = Raw(VT_I4, -12);
  VARIANT text = Raw(VT_BSTR), by_reference = Raw(VT_BSTR | VT_BYREF);
  VARIANT variant_by_reference = Raw(VT_VARIANT | VT_BYREF), object = Raw(VT_DISPATCH);
  text.bstrVal = alpha.get();
  by_reference.pbstrVal = &beta_slot;
  variant_by_reference.pvarVal = &inner;
  object.pdispVal = objects_[kLabel].get();
  struct Case {
    const char* what;
    VARIANT value;
    HRESULT hr;
    VARTYPE vt = VT_EMPTY;  // read back
    Arg read = 0;
  };
  const Case cases[] = {
      {"text", text, S_OK, VT_BSTR, L"Alpha"},
      {"null text", Raw(VT_BSTR), S_OK, VT_BSTR, L""},
      {"long", Raw(VT_I4, 100667896), S_OK, VT_I4, 100667896},
      {"short", Raw(VT_I2, -7), S_OK, VT_I4, -7},
      {"byte", Raw(VT_UI1, 200), S_OK, VT_I4, 200},
      {"64-bit in range", Raw(VT_I8, INT32_MIN), S_OK, VT_I4, INT32_MIN},
      {"64-bit too big", Raw(VT_I8, 1LL << 31), kOverflow},
      {"unsigned too big", Raw(VT_UI4, 1LL << 31), kOverflow},
      {"unsigned 64-bit too big", Raw(VT_UI8, -1), kOverflow},
      {"text by reference", by_reference, S_OK, VT_BSTR, L"Beta"},
      {"variant by reference", variant_by_reference, S_OK, VT_I4, -12},
      {"double", Raw(VT_R8, std::bit_cast<LONGLONG>(1.0)), kTypeMismatch},
      {"boolean", Raw(VT_BOOL, VARIANT_TRUE), kTypeMismatch},
      {"Null", Raw(VT_NULL), kTypeMismatch},
      {"object", object, kTypeMismatch},
      {"empty unsets", Raw(VT_EMPTY), S_OK},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(list->SetCell(1, 0, 2, *ScopedVariant::Long(5)), S_OK);
    EXPECT_EQ(list->SetCell(1, 0, 2, c.value), c.hr) << c.what;
    ScopedVariant read;
    ASSERT_EQ(list->GetCell(1, 0, 2, read.Receive()), S_OK) << c.what;
    if (FAILED(c.hr)) {
      ExpectValue(*read, VT_I4, 5, c.what);
    } else {
      ExpectValue(*read, c.vt, c.read, c.what);
    }
  }
  ScopedVariant never;
  ASSERT_EQ(list->GetCell(4, 0, 4, never.Receive()), S_OK);
  EXPECT_EQ(never->vt, VT_EMPTY) << "a cell never set";
}

// The timer keeps the loop's clock: `advance` fires it, never Start or
// Stop, and while it runs the loop has pending work, so `wait` (the loop's
// RunUntilIdle) runs until no timer runs.
TEST_F(HostContractTest, TimerRunsOnTheLoopsClockAsPendingWork) {
  auto& loop = platform::MessageLoop::Current();
  const size_t idle_work = loop.PendingWork();
  host::windows::TimerClassRegistration registration;
  ComPtr<IHostTimer> timer;
  ASSERT_EQ(::CoCreateInstance(CLSID_Timer, nullptr, CLSCTX_INPROC_SERVER, IID_IHostTimer,
                               timer.ReceiveVoid()),
            S_OK);
  ComPtr<RecordingSink> sink = NewSink();
  SinkConnection connection(timer.get(), DIID_DHostTimerEvents, sink->Identity());
  struct Step {
    const char* what;
    std::function<void()> act;
    size_t timeouts;  // so far
    bool running;
  };
  // The steps move time only through the loop's clock, held still between
  // them, so a slow machine cannot make a timer due a step early.
  loop.HoldClock(true);
  struct Release {
    ~Release() { platform::MessageLoop::Current().HoldClock(false); }
  } release;
  const Step steps[] = {
      {"Start", [&] { timer->Start(1000); }, 0, true},
      {"short of the interval", [&] { loop.Advance(999ms); }, 0, true},
      {"at the interval", [&] { loop.Advance(1ms); }, 1, true},
      {"it repeats", [&] { loop.Advance(2000ms); }, 3, true},
      {"Start restarts from now",
       [&] { loop.Advance(500ms), timer->Start(1000), loop.Advance(999ms); }, 3, true},
      {"the restarted interval", [&] { loop.Advance(1ms); }, 4, true},
      {"Start on a due timer", [&] { timer->Start(0), timer->Start(5); }, 4, true},
      {"Stop", [&] { loop.Advance(4ms), timer->Stop(); }, 4, false},
      {"nothing after Stop", [&] { loop.Advance(5000ms); }, 4, false},
  };
  for (const Step& step : steps) {
    step.act();
    EXPECT_EQ(sink->calls.size(), step.timeouts) << step.what;
    VARIANT_BOOL running = VARIANT_FALSE;
    timer->get_Running(&running);
    EXPECT_EQ(running == VARIANT_TRUE, step.running) << step.what;
    EXPECT_EQ(loop.PendingWork(), idle_work + (step.running ? 1 : 0)) << step.what;
  }

  // `wait`: a running timer is pending work (the clock still held, it
  // cannot fall due however long the call takes); the loop runs on real
  // time until a sink stops the timer.
  sink->during_call = [&] { timer->Stop(); };
  ASSERT_EQ(timer->Start(20), S_OK);
  EXPECT_FALSE(loop.RunUntilIdle(5ms)) << "a running timer is pending work";
  loop.HoldClock(false);
  EXPECT_TRUE(loop.RunUntilIdle(5000ms));
  EXPECT_EQ(sink->calls.size(), 5u);
  // A timer that goes while running takes its pending work with it.
  ASSERT_EQ(timer->Start(20), S_OK);
  connection.Reset();
  timer.reset();
  EXPECT_EQ(loop.PendingWork(), idle_work);
}

std::wstring GuidText(const GUID& guid) {
  wchar_t buffer[40];
  ::StringFromGUID2(guid, buffer, 40);
  return buffer;
}

// HKCR\key's default value; nullopt when absent.
std::optional<std::wstring> RegistryValue(const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t data[1024];
  DWORD size = sizeof data;
  if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(data);
}

bool KeyExists(const std::wstring& key, REGSAM view = 0) {
  HKEY handle = nullptr;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | view, &handle) !=
      ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(handle);
  return true;
}

// marlgate_host.dll beside this program, as a process that is not
// marlgate-host.exe uses it: registered, COM serves its Timer, which keeps
// real time while the thread pumps its messages; a process that registers
// its own Timer class is served that one first; unregistered, nothing of
// it is left in either registry view.
TEST(HostComponents, RegisteredTheyServeTheTimerClassAndGoWithoutATrace) {
  using EntryPoint = HRESULT(STDAPICALLTYPE*)();
  wchar_t exe[MAX_PATH];
  const std::wstring program(exe, ::GetModuleFileNameW(nullptr, exe, MAX_PATH));
  const std::wstring path =
      program.substr(0, program.find_last_of(L"\\/")) + L"\\marlgate_host.dll";
  HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(module, nullptr);
  auto entry = [&](const char* name) {
    return reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  };
  const EntryPoint register_server = entry("DllRegisterServer");
  const EntryPoint unregister_server = entry("DllUnregisterServer");
  const EntryPoint can_unload_now = entry("DllCanUnloadNow");
  ASSERT_TRUE(register_server && unregister_server && can_unload_now);
  const std::wstring clsid = L"CLSID\\" + GuidText(CLSID_Timer);
  const std::wstring library = GuidText(LIBID_marlgate_host);
  const bool was_registered = KeyExists(clsid);

  ASSERT_EQ(register_server(), S_OK);
  const std::pair<std::wstring, std::wstring> values[] = {
      {clsid + L"\\InprocServer32", path},
      {clsid + L"\\ProgID", L"marlgate_host.Timer"},
      {clsid + L"\\TypeLib", library},
      {L"marlgate_host.Timer\\CLSID", GuidText(CLSID_Timer)},
      {L"TypeLib\\" + library + (sizeof(void*) == 8 ? L"\\1.0\\0\\win64" : L"\\1.0\\0\\win32"),
       path},
      {L"Interface\\" + GuidText(IID_IHostTimer) + L"\\TypeLib", library},
  };
  for (const auto& [key, value] : values) EXPECT_EQ(RegistryValue(key), value) << key;
  EXPECT_EQ(RegistryValue(clsid + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");

  for (bool own_class : {false, true}) {
    std::optional<host::windows::TimerClassRegistration> registration;
    if (own_class) registration.emplace();
    ComPtr<IHostTimer> timer;
    ASSERT_EQ(::CoCreateInstance(CLSID_Timer, nullptr, CLSCTX_INPROC_SERVER, IID_IHostTimer,
                                 timer.ReceiveVoid()),
              S_OK);
    EXPECT_EQ(can_unload_now(), own_class ? S_OK : S_FALSE) << own_class;
    ComPtr<RecordingSink> sink = NewSink();
    SinkConnection connection(timer.get(), DIID_DHostTimerEvents, sink->Identity());
    ASSERT_EQ(timer->Start(20), S_OK);
    platform::MessageLoop::Current().Advance(20ms);
    EXPECT_EQ(sink->calls.size(), own_class ? 1u : 0u) << "the process's class on its loop clock";
    // The thread's messages, pumped as a host's own message loop does.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!own_class && sink->calls.empty() && std::chrono::steady_clock::now() < deadline) {
      ::MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      for (MSG message; ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) {
        ::DispatchMessageW(&message);
      }
    }
    EXPECT_FALSE(sink->calls.empty()) << "the DLL's class on the thread's messages";
    EXPECT_EQ(timer->Stop(), S_OK);
  }
  EXPECT_EQ(can_unload_now(), S_OK);

  EXPECT_EQ(unregister_server(), S_OK);
  std::vector<std::wstring> gone = {clsid, L"marlgate_host.Timer", L"TypeLib\\" + library};
  for (const IID* iid :
       {&IID_IHostSite, &IID_IHostViewFactory, &IID_IHostPanel, &IID_IHostTextBox, &IID_IHostButton,
        &DIID_DHostButtonEvents, &IID_IHostList, &DIID_DHostListEvents, &IID_IHostLabel,
        &IID_IHostCheckBox, &IID_IHostChatServices, &IID_IHostCharacterStats,
        &DIID_DHostCharacterStatsEvents, &IID_IHostTimer, &DIID_DHostTimerEvents, &IID_IPlugin2}) {
    gone.push_back(L"Interface\\" + GuidText(*iid));
  }
  for (const std::wstring& key : gone) {
    EXPECT_FALSE(KeyExists(key, KEY_WOW64_64KEY)) << key;
    EXPECT_FALSE(KeyExists(key, KEY_WOW64_32KEY)) << key << " (32-bit view)";
  }
  EXPECT_EQ(unregister_server(), S_OK) << "unregistering what is gone";
  if (was_registered) {
    EXPECT_EQ(register_server(), S_OK);
  }
  ::FreeLibrary(module);
}

}  // namespace
