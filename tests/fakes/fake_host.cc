#include "tests/fakes/fake_host.h"

#include <pugixml.hpp>

#include "platform/error.h"
#include "platform/text.h"

namespace fakes {

namespace {

// A cell address beyond this is treated as a fault of the caller rather than
// grown into, so a wild column number cannot make the fake allocate without
// bound.
constexpr int32_t kMaxCellIndex = 255;

[[noreturn]] void RaiseInvalid(const std::wstring& what) {
  throw platform::Error(platform::kErrInvalidArgument, what);
}

void CheckExistingRow(const std::vector<FakeList::Row>& rows, int32_t row) {
  if (row < 0 || static_cast<size_t>(row) >= rows.size()) {
    RaiseInvalid(L"Invalid argument: no row " + std::to_wstring(row));
  }
}

void CheckCellIndex(int32_t column, int32_t sub_value) {
  if (column < 0 || column > kMaxCellIndex || sub_value < 0 || sub_value > kMaxCellIndex) {
    RaiseInvalid(L"Invalid argument: no cell " + std::to_wstring(column) + L"," +
                 std::to_wstring(sub_value));
  }
}

platform::Ref<hostapi::Control> NewControl(const std::string& kind) {
  if (kind == "textbox") return platform::MakeRef<FakeTextBox>();
  if (kind == "button") return platform::MakeRef<FakeButton>();
  if (kind == "list") return platform::MakeRef<FakeList>();
  if (kind == "label") return platform::MakeRef<FakeLabel>();
  if (kind == "checkbox") return platform::MakeRef<FakeCheckBox>();
  return {};
}

void AddControl(FakePanel& panel, const pugi::xml_node& element) {
  platform::Ref<hostapi::Control> control = NewControl(element.name());
  if (control.empty()) return;  // layout, not a control
  pugi::xml_attribute name_attribute = element.attribute("name");
  if (!name_attribute || name_attribute.value()[0] == '\0') {
    RaiseInvalid(L"View text is not a view: a control without a name");
  }
  std::wstring name = platform::Utf8ToWide(name_attribute.value());
  for (const auto& existing : panel.controls) {
    if (existing.first == name) RaiseInvalid(L"View text is not a view: two controls named " + name);
  }
  panel.controls.emplace_back(std::move(name), std::move(control));
}

}  // namespace

void FakeList::InsertRow(int32_t row) {
  if (row < 0 || static_cast<size_t>(row) > rows.size()) {
    RaiseInvalid(L"Invalid argument: cannot insert row " + std::to_wstring(row));
  }
  rows.insert(rows.begin() + row, Row());
}

void FakeList::DeleteRow(int32_t row) {
  CheckExistingRow(rows, row);
  rows.erase(rows.begin() + row);
}

void FakeList::SetCell(int32_t column, int32_t row, int32_t sub_value,
                       const platform::Variant& value) {
  CheckExistingRow(rows, row);
  CheckCellIndex(column, sub_value);
  Row& cells = rows[static_cast<size_t>(row)];
  if (cells.size() <= static_cast<size_t>(column)) cells.resize(static_cast<size_t>(column) + 1);
  Column& sub_values = cells[static_cast<size_t>(column)];
  if (sub_values.size() <= static_cast<size_t>(sub_value)) {
    sub_values.resize(static_cast<size_t>(sub_value) + 1);
  }
  sub_values[static_cast<size_t>(sub_value)] = value;
}

platform::Variant FakeList::Cell(int32_t column, int32_t row, int32_t sub_value) {
  CheckExistingRow(rows, row);
  CheckCellIndex(column, sub_value);
  return CellValue(static_cast<size_t>(column), static_cast<size_t>(row),
                   static_cast<size_t>(sub_value));
}

void FakeList::AddRow(const std::wstring& text, std::optional<int32_t> icon) {
  rows.emplace_back();
  SetCell(0, static_cast<int32_t>(rows.size() - 1), 0, text);
  if (icon) SetCell(1, static_cast<int32_t>(rows.size() - 1), 1, *icon);
}

platform::Variant FakeList::CellValue(size_t column, size_t row, size_t sub_value) const {
  if (row >= rows.size() || column >= rows[row].size() || sub_value >= rows[row][column].size()) {
    return platform::Variant();
  }
  return rows[row][column][sub_value];
}

std::vector<std::wstring> FakeList::Texts() const {
  std::vector<std::wstring> texts;
  texts.reserve(rows.size());
  for (size_t row = 0; row < rows.size(); ++row) texts.push_back(Text(row));
  return texts;
}

platform::Ref<hostapi::Control> FakePanel::FindControl(const std::wstring& name) {
  for (const auto& [control_name, control] : controls) {
    if (control_name == name) return control;
  }
  RaiseInvalid(L"The panel has no control named " + name);
}

platform::Ref<hostapi::Panel> FakeViewFactory::CreatePanel(const std::wstring& view_text) {
  pugi::xml_document document;
  pugi::xml_parse_result parsed =
      document.load_buffer(view_text.data(), view_text.size() * sizeof(wchar_t),
                           pugi::parse_default, pugi::encoding_wchar);
  if (!parsed) {
    RaiseInvalid(L"View text is not well-formed: " + platform::Utf8ToWide(parsed.description()));
  }
  int roots = 0;
  for (const pugi::xml_node& node : document.children()) {
    if (node.type() == pugi::node_element) ++roots;
  }
  pugi::xml_node root = document.document_element();
  if (roots != 1 || std::string(root.name()) != "view") {
    RaiseInvalid(L"View text is not a view: its root must be one view element");
  }

  auto panel = platform::MakeRef<FakePanel>();
  for (const pugi::xml_node& child : root.children()) {
    if (child.type() != pugi::node_element) continue;
    if (std::string(child.name()) == "page") {
      for (const pugi::xml_node& control : child.children()) {
        if (control.type() == pugi::node_element) AddControl(*panel, control);
      }
    } else {
      AddControl(*panel, child);
    }
  }
  last_panel = panel;
  ++panels_created;
  return panel;
}

void FakeChatServices::WriteToChat(const std::wstring& line, int32_t colour, int32_t window) {
  if (record_->fail_output) throw platform::Error(kFakeChatOutputFailed, L"Fake chat output failed");
  record_->lines.push_back(ChatLine{line, colour, window});
}

void FakeChatServices::ParseChatCommand(const std::wstring& line) {
  if (record_->fail_parser) throw platform::Error(kFakeChatParserFailed, L"Fake chat parser failed");
  record_->commands.push_back(line);
}

FakeSite::FakeSite()
    : view_factory(platform::MakeRef<FakeViewFactory>()),
      char_stats(platform::MakeRef<FakeCharStats>()),
      chat(std::make_shared<ChatRecord>()) {}

platform::Ref<platform::Unknown> FakeSite::LookupObject(const std::wstring& path) {
  if (path != hostapi::kCharacterStatsPath || char_stats.empty()) {
    RaiseInvalid(L"Nothing is registered under " + path);
  }
  return char_stats;
}

platform::Ref<hostapi::ViewFactory> FakeSite::GetViewFactory() {
  if (view_factory.empty()) platform::Raise(platform::kErrEmptyReference);
  return view_factory;
}

platform::Ref<hostapi::ChatServices> FakeSite::GetChatServices() {
  return platform::MakeRef<FakeChatServices>(chat);
}

FakePanel& FakeSite::panel() {
  if (view_factory.empty() || view_factory->last_panel.empty()) {
    throw std::logic_error("FakeSite: no panel was built");
  }
  return *view_factory->last_panel;
}

}  // namespace fakes
