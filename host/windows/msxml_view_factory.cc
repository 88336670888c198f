// The reference host's view factory on Windows: the view text is parsed by
// MSXML 4.0's document (the platform's own XML library) instead of pugixml,
// with the same rules as host/view_factory.cc.

#include <windows.h>
#include <msxml2.h>

#include <string>
#include <utility>

#include "host/button.h"
#include "host/check_box.h"
#include "host/control_kind.h"
#include "host/label.h"
#include "host/list.h"
#include "host/text_box.h"
#include "host/view_factory.h"
#include "platform/error.h"
#include "platform/text.h"
#include "platform/windows/com_error.h"
#include "platform/windows/com_wrapper.h"
#include "platform/windows/msxml_class.h"
#include "platform/windows/com_types.h"
#include "platform/windows/msxml_ids.h"

namespace host {

namespace {

using platform::windows::Bstr;
using platform::windows::CheckHResult;
using platform::windows::ComPtr;
using platform::windows::ScopedVariant;

[[noreturn]] void Fail(const std::wstring& why) {
  platform::Raise(platform::kErrInvalidArgument, L"Invalid view: " + why);
}

std::wstring NameOf(IXMLDOMNode* node) {
  Bstr name;
  CheckHResult(node->get_nodeName(name.Receive()), L"Reading a node name");
  return name.str();
}

// Every attribute but `name`, and the value of `name` in *name.
Attributes AttributesOf(IXMLDOMNode* element, std::wstring* name = nullptr) {
  Attributes attributes;
  ComPtr<IXMLDOMNamedNodeMap> map;
  CheckHResult(element->get_attributes(map.Receive()), L"Reading attributes");
  if (!map) return attributes;
  long count = 0;
  CheckHResult(map->get_length(&count), L"Reading attributes");
  for (long i = 0; i < count; ++i) {
    ComPtr<IXMLDOMNode> attribute;
    CheckHResult(map->get_item(i, attribute.Receive()), L"Reading attributes");
    Bstr value;
    CheckHResult(attribute->get_text(value.Receive()), L"Reading an attribute");
    const std::wstring attribute_name = NameOf(attribute.get());
    if (attribute_name == L"name") {
      if (name != nullptr) *name = value.str();
      continue;
    }
    attributes[attribute_name] = value.str();
  }
  return attributes;
}

void AddControl(Panel& panel, IXMLDOMNode* element, size_t page, int32_t id) {
  const std::wstring tag = NameOf(element);
  auto kind = KindFromName(platform::WideToUtf8(tag));
  if (!kind) Fail(L"unknown element <" + tag + L">");
  std::wstring name;
  Attributes attributes = AttributesOf(element, &name);
  if (name.empty()) Fail(L"a <" + tag + L"> without a name");
  if (panel.Find(name)) Fail(L"two controls named " + name);
  switch (*kind) {
    case ControlKind::kTextBox:
      panel.AddControl(std::make_shared<TextBox>(name, id, std::move(attributes)), page);
      break;
    case ControlKind::kButton:
      panel.AddControl(std::make_shared<Button>(name, id, std::move(attributes)), page);
      break;
    case ControlKind::kList:
      panel.AddControl(std::make_shared<List>(name, id, std::move(attributes)), page);
      break;
    case ControlKind::kLabel:
      panel.AddControl(std::make_shared<Label>(name, id, std::move(attributes)), page);
      break;
    case ControlKind::kCheckBox:
      panel.AddControl(std::make_shared<CheckBox>(name, id, std::move(attributes)), page);
      break;
  }
}

// Adds the pages and controls inside `parent` in document order; `last_id`
// is the id of the control added last.
void AddChildren(Panel& panel, IXMLDOMNode* parent, size_t page, int32_t& last_id) {
  ComPtr<IXMLDOMNodeList> children;
  CheckHResult(parent->get_childNodes(children.Receive()), L"Reading child nodes");
  long count = 0;
  CheckHResult(children->get_length(&count), L"Reading child nodes");
  for (long i = 0; i < count; ++i) {
    ComPtr<IXMLDOMNode> child;
    CheckHResult(children->get_item(i, child.Receive()), L"Reading child nodes");
    DOMNodeType type = NODE_INVALID;
    CheckHResult(child->get_nodeType(&type), L"Reading a node type");
    if (type != NODE_ELEMENT) continue;
    if (NameOf(child.get()) == L"page") {
      if (page != Panel::kNoPage) Fail(L"a page inside a page");
      AddChildren(panel, child.get(), panel.AddPage(AttributesOf(child.get())), last_id);
      continue;
    }
    AddControl(panel, child.get(), page, ++last_id);
  }
}

}  // namespace

platform::Ref<hostapi::Panel> ViewFactory::CreatePanel(const std::wstring& view_text) {
  // MSXML 4.0, or 6.0 where 4.0 is not installed, as for the plug-in.
  ComPtr<IXMLDOMDocument2> document =
      platform::windows::CreateMsxml(platform::windows::MsxmlClass::kDomDocument)
          .Query<IXMLDOMDocument2>(platform::windows::kIidXmlDomDocument2);
  if (!document) platform::windows::RaiseHResult(E_NOINTERFACE, L"Creating the view document");
  CheckHResult(document->put_async(VARIANT_FALSE), L"Setting the view document");
  CheckHResult(document->put_resolveExternals(VARIANT_FALSE), L"Setting the view document");
  CheckHResult(document->put_validateOnParse(VARIANT_FALSE), L"Setting the view document");
  Bstr text(view_text);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT hr = document->loadXML(text.get(), &loaded);
  if (FAILED(hr)) platform::windows::RaiseHResult(hr, L"Parsing the view");
  if (loaded != VARIANT_TRUE) {
    std::wstring why = L"not well-formed XML";
    ComPtr<IXMLDOMParseError> error;
    if (SUCCEEDED(document->get_parseError(error.Receive())) && error) {
      Bstr reason;
      long line = 0;
      long position = 0;
      error->get_reason(reason.Receive());
      error->get_line(&line);
      error->get_linepos(&position);
      std::wstring reason_text = reason.str();
      while (!reason_text.empty() && (reason_text.back() == L'\n' || reason_text.back() == L'\r')) {
        reason_text.pop_back();
      }
      why += L" (" + reason_text + L" at line " + std::to_wstring(line) + L", position " +
             std::to_wstring(position) + L")";
    }
    Fail(why);
  }
  ComPtr<IXMLDOMElement> root;
  CheckHResult(document->get_documentElement(root.Receive()), L"Reading the view's root");
  ComPtr<IXMLDOMNode> root_node = root.Query<IXMLDOMNode>(platform::windows::kIidXmlDomNode);
  if (!root_node || NameOf(root_node.get()) != L"view") Fail(L"the root element is not <view>");

  auto panel = std::make_shared<Panel>(AttributesOf(root_node.get()));
  int32_t last_id = 0;
  AddChildren(*panel, root_node.get(), Panel::kNoPage, last_id);
  last_panel_ = std::move(panel);
  return platform::Ref<hostapi::Panel>(last_panel_);
}

}  // namespace host
