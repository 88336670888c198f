#include "component/windows/host_adapters.h"

#include <memory>
#include <string>
#include <typeinfo>
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

using platform::windows::CallAutomation;

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

class TextBoxAdapter final : public hostapi::TextBox {
 public:
  explicit TextBoxAdapter(ComPtr<IHostTextBox> box) : box_(std::move(box)) {}
  std::wstring Text() override {
    Bstr text;
    CallAutomation(box_.get(), &IHostTextBox::get_Text, L"Reading a text box", text.Receive());
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
    CallAutomation(label_.get(), &IHostLabel::get_Text, L"Reading a label", text.Receive());
    return text.str();
  }
  void SetText(const std::wstring& text) override {
    Bstr value(text);
    CallAutomation(label_.get(), &IHostLabel::put_Text, L"Setting a label", value.get());
  }

 private:
  ComPtr<IHostLabel> label_;
};

class CheckBoxAdapter final : public hostapi::CheckBox {
 public:
  explicit CheckBoxAdapter(ComPtr<IHostCheckBox> box) : box_(std::move(box)) {}
  bool Checked() override {
    VARIANT_BOOL checked = VARIANT_FALSE;
    CallAutomation(box_.get(), &IHostCheckBox::get_Checked, L"Reading a check box", &checked);
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

  void Clear() override { CallAutomation(list_.get(), &IHostList::Clear, L"Clearing a list"); }
  void InsertRow(int32_t row) override {
    CallAutomation(list_.get(), &IHostList::InsertRow, L"Inserting a list row", row);
  }
  void DeleteRow(int32_t row) override {
    CallAutomation(list_.get(), &IHostList::DeleteRow, L"Deleting a list row", row);
  }
  void SetCell(int32_t column, int32_t row, int32_t sub_value, const platform::Variant& value) override {
    ScopedVariant cell = ToVariant(value);
    CallAutomation(list_.get(), &IHostList::SetCell, L"Setting a list cell", column, row, sub_value,
                   *cell);
  }
  platform::Variant Cell(int32_t column, int32_t row, int32_t sub_value) override {
    ScopedVariant cell;
    CallAutomation(list_.get(), &IHostList::GetCell, L"Reading a list cell", column, row, sub_value,
                   cell.Receive());
    return FromVariant(*cell);
  }

 private:
  ComPtr<IHostList> list_;
  HostEvents events_;
};

// A control as FindControl hands it out: asked for the interface of a role
// only when the plug-in wants the control in that role (Ref::As), so that a
// control that also answers the interface of another kind (a check box
// offering IHostLabel for its caption) is still what the plug-in expects.
// A role it does not answer fails with kErrTypeMismatch, as on Linux.
class ControlAdapter final : public hostapi::Control {
 public:
  explicit ControlAdapter(ComPtr<IDispatch> control) : control_(std::move(control)) {}

  std::shared_ptr<platform::Unknown> ObjectInRole(const std::type_info& role) override {
    if (role == typeid(hostapi::TextBox)) return Make<TextBoxAdapter, IHostTextBox>();
    if (role == typeid(hostapi::Button)) return Make<ButtonAdapter, IHostButton>();
    if (role == typeid(hostapi::List)) return Make<ListAdapter, IHostList>();
    if (role == typeid(hostapi::Label)) return Make<LabelAdapter, IHostLabel>();
    if (role == typeid(hostapi::CheckBox)) return Make<CheckBoxAdapter, IHostCheckBox>();
    return nullptr;
  }

 private:
  template <class Adapter, class I>
  std::shared_ptr<platform::Unknown> Make() {
    auto object = control_.Query<I>(__uuidof(I));
    if (!object) return nullptr;
    return std::make_shared<Adapter>(std::move(object));
  }

  ComPtr<IDispatch> control_;
};

Ref<hostapi::Control> AdaptControl(ComPtr<IDispatch> control) {
  if (!control) return Ref<hostapi::Control>();
  return Ref<hostapi::Control>(std::make_shared<ControlAdapter>(std::move(control)));
}

class PanelAdapter final : public hostapi::Panel {
 public:
  explicit PanelAdapter(ComPtr<IHostPanel> panel) : panel_(std::move(panel)) {}
  Ref<hostapi::Control> FindControl(const std::wstring& name) override {
    Bstr bstr_name(name);
    ComPtr<IDispatch> control;
    CallAutomation(panel_.get(), &IHostPanel::FindControl, L"Finding a control", bstr_name.get(),
                   control.Receive());
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
    CallAutomation(factory_.get(), &IHostViewFactory::CreatePanel, L"Creating the panel", text.get(),
                   panel.Receive());
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
    CallAutomation(chat_.get(), &IHostChatServices::WriteToChat, L"Writing to chat", text.get(), colour,
                   window);
  }
  void ParseChatCommand(const std::wstring& line) override {
    Bstr text(line);
    CallAutomation(chat_.get(), &IHostChatServices::ParseChatCommand, L"Passing a chat command",
                   text.get());
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
    CallAutomation(stats_.get(), &IHostCharacterStats::get_Name, L"Reading the character's name",
                   name.Receive());
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
    CallAutomation(site_.get(), &IHostSite::LookupObject, L"Looking up a host object", bstr_path.get(),
                   object.Receive());
    if (!object) return Ref<platform::Unknown>();
    if (auto stats = object.Query<IHostCharacterStats>(IID_IHostCharacterStats)) {
      return Ref<platform::Unknown>(std::make_shared<CharacterStatsAdapter>(std::move(stats)));
    }
    return Ref<platform::Unknown>(std::make_shared<OtherObject>(std::move(object)));
  }

  Ref<hostapi::ViewFactory> GetViewFactory() override {
    ComPtr<IHostViewFactory> factory;
    CallAutomation(site_.get(), &IHostSite::GetViewFactory, L"Getting the view factory", factory.Receive());
    if (!factory) return Ref<hostapi::ViewFactory>();
    return Ref<hostapi::ViewFactory>(std::make_shared<ViewFactoryAdapter>(std::move(factory)));
  }

  Ref<hostapi::ChatServices> GetChatServices() override {
    ComPtr<IHostChatServices> chat;
    CallAutomation(site_.get(), &IHostSite::GetChatServices, L"Getting the chat services",
                   chat.Receive());
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
