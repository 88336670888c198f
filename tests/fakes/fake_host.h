#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "hostapi/controls.h"
#include "hostapi/host.h"
#include "platform/ref.h"
#include "platform/variant.h"

// In-memory stand-ins for the host's roles, for tests that drive the plug-in
// in-process. Fields are public so a test can set up and read back state
// directly; methods of the host roles behave as the real host does (the same
// failures with the same error numbers). Everything is single-threaded.
namespace fakes {

// Numbers raised when a test switches a fake to fail, so an error line tells
// which fake failed.
inline constexpr int32_t kFakeChatOutputFailed = 9001;
inline constexpr int32_t kFakeChatParserFailed = 9002;

class FakeTextBox : public hostapi::TextBox {
 public:
  std::wstring Text() override { return text; }
  std::wstring text;
};

class FakeButton : public hostapi::Button {
 public:
  // Raises Accepted as the host does when the player presses the button.
  void Click(int32_t id = 0) { Accepted.Raise(id); }
};

class FakeLabel : public hostapi::Label {
 public:
  std::wstring Text() override { return text; }
  void SetText(const std::wstring& value) override { text = value; }
  std::wstring text;
};

class FakeCheckBox : public hostapi::CheckBox {
 public:
  bool Checked() override { return checked; }
  bool checked = false;
};

// Rows of columns of sub-values. InsertRow past the row count, and DeleteRow,
// Cell or SetCell on a row that does not exist (or with a negative column or
// sub-value) raise kErrInvalidArgument, as the host does. A cell never set
// reads as an empty Variant.
class FakeList : public hostapi::List {
 public:
  using Column = std::vector<platform::Variant>;  // sub-values
  using Row = std::vector<Column>;

  void Clear() override { rows.clear(); }
  void InsertRow(int32_t row) override;
  void DeleteRow(int32_t row) override;
  void SetCell(int32_t column, int32_t row, int32_t sub_value,
               const platform::Variant& value) override;
  platform::Variant Cell(int32_t column, int32_t row, int32_t sub_value) override;

  // Raises Change as the host does when the player clicks a cell.
  void Select(int32_t column, int32_t row, int32_t id = 0) { Change.Raise(id, column, row); }
  // Appends a row as the reply handling fills one: text in column 0
  // sub-value 0 and, when given, the icon in column 1 sub-value 1.
  void AddRow(const std::wstring& text, std::optional<int32_t> icon = std::nullopt);

  // Read-back for assertions; a cell never set reads as an empty Variant.
  size_t RowCount() const { return rows.size(); }
  platform::Variant CellValue(size_t column, size_t row, size_t sub_value) const;
  std::wstring Text(size_t row) const { return platform::VariantText(CellValue(0, row, 0)); }
  platform::Variant Icon(size_t row) const { return CellValue(1, row, 1); }
  // Column 0 sub-value 0 of every row, in order.
  std::vector<std::wstring> Texts() const;

  std::vector<Row> rows;
};

// A panel built from a view text: the controls by name, in view order.
class FakePanel : public hostapi::Panel {
 public:
  // Raises kErrInvalidArgument when the panel has no control of that name.
  platform::Ref<hostapi::Control> FindControl(const std::wstring& name) override;

  // Typed access for tests; throws std::logic_error when the control is
  // missing or of another kind (a fault in the test, not in the plug-in).
  FakeTextBox& TextBox(const std::wstring& name) { return Get<FakeTextBox>(name); }
  FakeButton& Button(const std::wstring& name) { return Get<FakeButton>(name); }
  FakeList& List(const std::wstring& name) { return Get<FakeList>(name); }
  FakeLabel& Label(const std::wstring& name) { return Get<FakeLabel>(name); }
  FakeCheckBox& CheckBox(const std::wstring& name) { return Get<FakeCheckBox>(name); }

  template <class T>
  T& Get(const std::wstring& name);

  std::vector<std::pair<std::wstring, platform::Ref<hostapi::Control>>> controls;
};

// Builds panels from the view format of marlgate-host: root `view`, controls
// (`textbox`, `button`, `list`, `label`, `checkbox`, each with a `name`)
// directly in it or in its `page` elements; other elements are layout and
// ignored. A text that is not well-formed XML, has another root, or has a
// control without a name or a name twice raises kErrInvalidArgument.
class FakeViewFactory : public hostapi::ViewFactory {
 public:
  platform::Ref<hostapi::Panel> CreatePanel(const std::wstring& view_text) override;

  // The panel built last; empty before the first.
  platform::Ref<FakePanel> last_panel;
  int panels_created = 0;
};

struct ChatLine {
  std::wstring text;
  int32_t colour = 0;
  int32_t window = 0;
  friend bool operator==(const ChatLine&, const ChatLine&) = default;
};

class FakeSite;

// What the site's chat services record. Shared by every chat-services
// reference the site hands out.
struct ChatRecord {
  std::vector<ChatLine> lines;          // chat output, in order
  std::vector<std::wstring> commands;   // chat parser input, in order
  bool fail_output = false;  // WriteToChat raises kFakeChatOutputFailed
  bool fail_parser = false;  // ParseChatCommand raises kFakeChatParserFailed
};

class FakeChatServices : public hostapi::ChatServices {
 public:
  explicit FakeChatServices(std::shared_ptr<ChatRecord> record) : record_(std::move(record)) {}
  void WriteToChat(const std::wstring& line, int32_t colour, int32_t window) override;
  void ParseChatCommand(const std::wstring& line) override;

 private:
  std::shared_ptr<ChatRecord> record_;
};

class FakeCharStats : public hostapi::CharacterStats {
 public:
  std::wstring Name() override { return name; }
  // Sets the name and raises Login, as the host does at a login.
  void LogIn(const std::wstring& new_name) {
    name = new_name;
    Login.Raise(0);
  }
  std::wstring name;
};

// The host's site. LookupObject returns `char_stats` for
// hostapi::kCharacterStatsPath only (and raises kErrInvalidArgument for any
// other path, or when `char_stats` is empty); GetViewFactory returns
// `view_factory` (raising kErrEmptyReference when empty); every
// GetChatServices returns a fresh object that records into `chat`.
class FakeSite : public hostapi::Site {
 public:
  FakeSite();

  platform::Ref<platform::Unknown> LookupObject(const std::wstring& path) override;
  platform::Ref<hostapi::ViewFactory> GetViewFactory() override;
  platform::Ref<hostapi::ChatServices> GetChatServices() override;

  // The panel the view factory built last; throws std::logic_error when none.
  FakePanel& panel();

  platform::Ref<FakeViewFactory> view_factory;
  platform::Ref<FakeCharStats> char_stats;
  std::shared_ptr<ChatRecord> chat;
};

template <class T>
T& FakePanel::Get(const std::wstring& name) {
  for (auto& [control_name, control] : controls) {
    if (control_name != name) continue;
    if (auto* typed = dynamic_cast<T*>(control.get())) return *typed;
    break;
  }
  throw std::logic_error("FakePanel: no control of that name and kind");
}

}  // namespace fakes
