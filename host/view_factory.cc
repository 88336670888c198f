#include "host/view_factory.h"

#include <cstring>
#include <pugixml.hpp>
#include <string>
#include <utility>

#include "host/button.h"
#include "host/check_box.h"
#include "host/control_kind.h"
#include "host/label.h"
#include "host/list.h"
#include "host/text_box.h"
#include "platform/error.h"
#include "platform/text.h"

namespace host {

namespace {

[[noreturn]] void Fail(const std::wstring& why) {
  platform::Raise(platform::kErrInvalidArgument, L"Invalid view: " + why);
}

std::wstring Wide(const char* utf8) { return platform::Utf8ToWide(utf8); }

// Every attribute but `name`.
Attributes LayoutAttributes(const pugi::xml_node& element) {
  Attributes attributes;
  for (const pugi::xml_attribute& attribute : element.attributes()) {
    if (std::strcmp(attribute.name(), "name") == 0) continue;
    attributes[Wide(attribute.name())] = Wide(attribute.value());
  }
  return attributes;
}

void AddControl(Panel& panel, const pugi::xml_node& element, size_t page, int32_t id) {
  auto kind = KindFromName(element.name());
  if (!kind) Fail(L"unknown element <" + Wide(element.name()) + L">");
  std::wstring name = Wide(element.attribute("name").value());
  if (name.empty()) Fail(L"a <" + Wide(element.name()) + L"> without a name");
  if (panel.Find(name)) Fail(L"two controls named " + name);
  Attributes attributes = LayoutAttributes(element);
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
void AddChildren(Panel& panel, const pugi::xml_node& parent, size_t page, int32_t& last_id) {
  for (const pugi::xml_node& child : parent.children()) {
    if (child.type() != pugi::node_element) continue;
    if (std::strcmp(child.name(), "page") == 0) {
      if (page != Panel::kNoPage) Fail(L"a page inside a page");
      AddChildren(panel, child, panel.AddPage(LayoutAttributes(child)), last_id);
      continue;
    }
    AddControl(panel, child, page, ++last_id);
  }
}

}  // namespace

platform::Ref<hostapi::Panel> ViewFactory::CreatePanel(const std::wstring& view_text) {
  const std::string utf8 = platform::WideToUtf8(view_text);
  pugi::xml_document document;
  pugi::xml_parse_result result =
      document.load_buffer(utf8.data(), utf8.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!result) {
    Fail(L"not well-formed XML (" + Wide(result.description()) + L" at byte " +
         std::to_wstring(result.offset) + L")");
  }
  pugi::xml_node root;
  for (const pugi::xml_node& child : document.children()) {
    if (child.type() != pugi::node_element) continue;
    if (root) Fail(L"more than one root element");
    root = child;
  }
  if (!root || std::strcmp(root.name(), "view") != 0) Fail(L"the root element is not <view>");

  auto panel = std::make_shared<Panel>(LayoutAttributes(root));
  int32_t last_id = 0;
  AddChildren(*panel, root, Panel::kNoPage, last_id);
  last_panel_ = std::move(panel);
  return platform::Ref<hostapi::Panel>(last_panel_);
}

}  // namespace host
