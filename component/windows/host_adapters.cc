#include "component/windows/host_adapters.h"

#include <memory>
#include <string>
#include <utility>

#include "hostapi/controls.h"
#include "platform/error.h"
#include "platform/variant.h"
#include "platform/windows/com_error.h"
#include "platform/windows/com_types.h"
#include "platform/windows/connection_point.h"
#include "platform/windows/dispatch_sink.h"

namespace component::windows {

namespace {

using platform::Ref;
using platform::windows::Bstr;
using platform::windows::ComPtr;
using platform::windows::DispatchSink;
using platform::windows::ScopedVariant;
using platform::windows::SinkConnection;

constexpr DISPID kDispIdAccepted = 1;
constexpr DISPID kDispIdChange = 1;
constexpr DISPID kDispIdLogin = 1;

void Check(HRESULT hr, const wchar_t* what) {
  if (FAILED(hr)) platform::windows::RaiseAutomationFailure(hr, what);
}

// Argument `index` of an event (in the order the event declares them) as a
// long; 0 when it is missing or not a number.
int32_t LongArgument(const DISPPARAMS* params, UINT index) {
  if (params == nullptr || index >= params->cArgs) return 0;
  ScopedVariant number;
  VARIANT* argument = &params->rgvarg[params->cArgs - 1 - index];
  if (FAILED(::VariantChangeType(number.Receive(), argument, 0, VT_I4))) return 0;
  return static_cast<int32_t>(number->lVal);
}

// A host object's events, for as long as the adapter lives: a sink advised
// on the object's connection point of `events`, which calls `on_event` with
// the member's dispatch id and arguments.
class HostEvents {
 public:
  HostEvents(IUnknown* source, const IID& events, DispatchSink::Handler on_event)
      : sink_(ComPtr<DispatchSink>::Adopt(new DispatchSink(events, std::move(on_event)))),
        connection_(source, events, sink_.get()) {}
  HostEvents(const HostEvents&) = delete;
  HostEvents& operator=(const HostEvents&) = delete;
  ~HostEvents() {
    connection_.Reset();
    sink_->Detach();
  }

 private:
  ComPtr<DispatchSink> sink_;
  SinkConnection connection_;
};

// A control of a kind the plug-in does not bind: it plays no role, so
// asking it for one fails with kErrTypeMismatch, as on Linux.
class OtherControl final : public hostapi::Control {
 public:
  explicit OtherControl(ComPtr<IDispatch> object) : object_(std::move(object)) {}

 private:
  ComPtr<IDispatch> object_;
};

class TextBoxAdapter final : public hostapi::TextBox {
 public:
  explicit TextBoxAdapter(ComPtr<IHostTextBox> box) : box_(std::move(box)) {}
  std::wstring Text() override {
    Bstr text;
    Check(box_->get_Text(text.Receive()), L"Reading a text box");
    return text.str();
  }

 private:
  ComPtr<IHostTextBox> box_;
};

class ButtonAdapter final : public hostapi::Button {
 public:
  explicit ButtonAdapter(ComPtr<IHostButton> button)
      : button_(std::move(button)),
        events_(button_.get(), DIID_DHostButtonEvents, [this](DISPID member, DISPPARAMS* params) {
          if (member != kDispIdAccepted) return DISP_E_MEMBERNOTFOUND;
          Accepted.Raise(LongArgument(params, 0));
          return S_OK;
        }) {}

 private:
  ComPtr<IHostButton> button_;
  HostEvents events_;
};

class LabelAdapter final : public hostapi::Label {
 public:
  explicit LabelAdapter(ComPtr<IHostLabel> label) : label_(std::move(label)) {}
  std::wstring Text() override {
    Bstr text;
    Check(label_->get_Text(text.Receive()), L"Reading a label");
    return text.str();
  }
  void SetText(const std::wstring& text) override {
    Bstr value(text);
    Check(label_->put_Text(value.get()), L"Setting a label");
  }

 private:
  ComPtr<IHostLabel> label_;
};

class CheckBoxAdapter final : public hostapi::CheckBox {
 public:
  explicit CheckBoxAdapter(ComPtr<IHostCheckBox> box) : box_(std::move(box)) {}
  bool Checked() override {
    VARIANT_BOOL checked = VARIANT_FALSE;
    Check(box_->get_Checked(&checked), L"Reading a check box");
    return checked != VARIANT_FALSE;
  }

 private:
  ComPtr<IHostCheckBox> box_;
};

ScopedVariant ToVariant(const platform::Variant& value) {
  if (const auto* text = std::get_if<std::wstring>(&value)) return ScopedVariant::Text(*text);
  if (const auto* number = std::get_if<int32_t>(&value)) return ScopedVariant::Long(*number);
  return ScopedVariant();
}

// A cell as the plug-in reads it: nothing, text or a 32-bit number; any
// other value the host keeps is read as its text.
platform::Variant FromVariant(const VARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return platform::Variant();
    case VT_BSTR:
      return platform::Variant(
          value.bstrVal ? std::wstring(value.bstrVal, ::SysStringLen(value.bstrVal)) : std::wstring());
    case VT_I1: return platform::Variant(static_cast<int32_t>(value.cVal));
    case VT_UI1: return platform::Variant(static_cast<int32_t>(value.bVal));
    case VT_I2: return platform::Variant(static_cast<int32_t>(value.iVal));
    case VT_UI2: return platform::Variant(static_cast<int32_t>(value.uiVal));
    case VT_I4: return platform::Variant(static_cast<int32_t>(value.lVal));
    case VT_INT: return platform::Variant(static_cast<int32_t>(value.intVal));
    default:
      break;
  }
  ScopedVariant text;
  Check(::VariantChangeType(text.Receive(), const_cast<VARIANT*>(&value), 0, VT_BSTR),
        L"Reading a list cell");
  return platform::Variant(text->bstrVal ? std::wstring(text->bstrVal, ::SysStringLen(text->bstrVal))
                                         : std::wstring());
}

class ListAdapter final : public hostapi::List {
 public:
  explicit ListAdapter(ComPtr<IHostList> list)
      : list_(std::move(list)),
        events_(list_.get(), DIID_DHostListEvents, [this](DISPID member, DISPPARAMS* params) {
          if (member != kDispIdChange) return DISP_E_MEMBERNOTFOUND;
          Change.Raise(LongArgument(params, 0), LongArgument(params, 1), LongArgument(params, 2));
          return S_OK;
        }) {}

  void Clear() override { Check(list_->Clear(), L"Clearing a list"); }
  void InsertRow(int32_t row) override { Check(list_->InsertRow(row), L"Inserting a list row"); }
  void DeleteRow(int32_t row) override { Check(list_->DeleteRow(row), L"Deleting a list row"); }
  void SetCell(int32_t column, int32_t row, int32_t sub_value, const platform::Variant& value) override {
    ScopedVariant cell = ToVariant(value);
    Check(list_->SetCell(column, row, sub_value, *cell), L"Setting a list cell");
  }
  platform::Variant Cell(int32_t column, int32_t row, int32_t sub_value) override {
    ScopedVariant cell;
    Check(list_->GetCell(column, row, sub_value, cell.Receive()), L"Reading a list cell");
    return FromVariant(*cell);
  }

 private:
  ComPtr<IHostList> list_;
  HostEvents events_;
};

// The control in the role of its kind. A host control answers the
// interface of its one kind.
Ref<hostapi::Control> AdaptControl(ComPtr<IDispatch> control) {
  if (!control) return Ref<hostapi::Control>();
  if (auto box = control.Query<IHostTextBox>(IID_IHostTextBox)) {
    return Ref<hostapi::Control>(std::make_shared<TextBoxAdapter>(std::move(box)));
  }
  if (auto button = control.Query<IHostButton>(IID_IHostButton)) {
    return Ref<hostapi::Control>(std::make_shared<ButtonAdapter>(std::move(button)));
  }
  if (auto list = control.Query<IHostList>(IID_IHostList)) {
    return Ref<hostapi::Control>(std::make_shared<ListAdapter>(std::move(list)));
  }
  if (auto label = control.Query<IHostLabel>(IID_IHostLabel)) {
    return Ref<hostapi::Control>(std::make_shared<LabelAdapter>(std::move(label)));
  }
  if (auto box = control.Query<IHostCheckBox>(IID_IHostCheckBox)) {
    return Ref<hostapi::Control>(std::make_shared<CheckBoxAdapter>(std::move(box)));
  }
  return Ref<hostapi::Control>(std::make_shared<OtherControl>(std::move(control)));
}

class PanelAdapter final : public hostapi::Panel {
 public:
  explicit PanelAdapter(ComPtr<IHostPanel> panel) : panel_(std::move(panel)) {}
  Ref<hostapi::Control> FindControl(const std::wstring& name) override {
    Bstr bstr_name(name);
    ComPtr<IDispatch> control;
    Check(panel_->FindControl(bstr_name.get(), control.Receive()), L"Finding a control");
    return AdaptControl(std::move(control));
  }

 private:
  ComPtr<IHostPanel> panel_;
};

class ViewFactoryAdapter final : public hostapi::ViewFactory {
 public:
  explicit ViewFactoryAdapter(ComPtr<IHostViewFactory> factory) : factory_(std::move(factory)) {}
  Ref<hostapi::Panel> CreatePanel(const std::wstring& view_text) override {
    Bstr text(view_text);
    ComPtr<IHostPanel> panel;
    Check(factory_->CreatePanel(text.get(), panel.Receive()), L"Creating the panel");
    if (!panel) return Ref<hostapi::Panel>();
    return Ref<hostapi::Panel>(std::make_shared<PanelAdapter>(std::move(panel)));
  }

 private:
  ComPtr<IHostViewFactory> factory_;
};

class ChatServicesAdapter final : public hostapi::ChatServices {
 public:
  explicit ChatServicesAdapter(ComPtr<IHostChatServices> chat) : chat_(std::move(chat)) {}
  void WriteToChat(const std::wstring& line, int32_t colour, int32_t window) override {
    Bstr text(line);
    Check(chat_->WriteToChat(text.get(), colour, window), L"Writing to chat");
  }
  void ParseChatCommand(const std::wstring& line) override {
    Bstr text(line);
    Check(chat_->ParseChatCommand(text.get()), L"Passing a chat command");
  }

 private:
  ComPtr<IHostChatServices> chat_;
};

class CharacterStatsAdapter final : public hostapi::CharacterStats {
 public:
  explicit CharacterStatsAdapter(ComPtr<IHostCharacterStats> stats)
      : stats_(std::move(stats)),
        events_(stats_.get(), DIID_DHostCharacterStatsEvents,
                [this](DISPID member, DISPPARAMS* params) {
                  if (member != kDispIdLogin) return DISP_E_MEMBERNOTFOUND;
                  Login.Raise(LongArgument(params, 0));
                  return S_OK;
                }) {}
  std::wstring Name() override {
    Bstr name;
    Check(stats_->get_Name(name.Receive()), L"Reading the character's name");
    return name.str();
  }

 private:
  ComPtr<IHostCharacterStats> stats_;
  HostEvents events_;
};

// Something the site holds that plays none of the plug-in's roles.
class OtherObject final : public platform::Unknown {
 public:
  explicit OtherObject(ComPtr<IDispatch> object) : object_(std::move(object)) {}

 private:
  ComPtr<IDispatch> object_;
};

class SiteAdapter final : public hostapi::Site {
 public:
  explicit SiteAdapter(ComPtr<IHostSite> site) : site_(std::move(site)) {}

  Ref<platform::Unknown> LookupObject(const std::wstring& path) override {
    Bstr bstr_path(path);
    ComPtr<IDispatch> object;
    Check(site_->LookupObject(bstr_path.get(), object.Receive()), L"Looking up a host object");
    if (!object) return Ref<platform::Unknown>();
    if (auto stats = object.Query<IHostCharacterStats>(IID_IHostCharacterStats)) {
      return Ref<platform::Unknown>(std::make_shared<CharacterStatsAdapter>(std::move(stats)));
    }
    return Ref<platform::Unknown>(std::make_shared<OtherObject>(std::move(object)));
  }

  Ref<hostapi::ViewFactory> GetViewFactory() override {
    ComPtr<IHostViewFactory> factory;
    Check(site_->GetViewFactory(factory.Receive()), L"Getting the view factory");
    if (!factory) return Ref<hostapi::ViewFactory>();
    return Ref<hostapi::ViewFactory>(std::make_shared<ViewFactoryAdapter>(std::move(factory)));
  }

  Ref<hostapi::ChatServices> GetChatServices() override {
    ComPtr<IHostChatServices> chat;
    Check(site_->GetChatServices(chat.Receive()), L"Getting the chat services");
    if (!chat) return Ref<hostapi::ChatServices>();
    return Ref<hostapi::ChatServices>(std::make_shared<ChatServicesAdapter>(std::move(chat)));
  }

 private:
  ComPtr<IHostSite> site_;
};

}  // namespace

Ref<hostapi::Site> AdaptSite(IHostSite* site) {
  if (site == nullptr) return Ref<hostapi::Site>();
  return Ref<hostapi::Site>(std::make_shared<SiteAdapter>(ComPtr<IHostSite>::Share(site)));
}

}  // namespace component::windows
