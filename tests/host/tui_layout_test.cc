#include "host/tui/layout.h"

#include <gtest/gtest.h>

#include <clocale>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "host/panel.h"
#include "host/view_factory.h"
#include "platform/text.h"

namespace host::tui {
namespace {

std::wstring ReadView() {
  std::ifstream in(MARLGATE_VIEW_FILE, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return platform::Utf8ToWide(text.str());
}

bool Overlap(const Rect& a, const Rect& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
         b.y < a.y + a.height;
}

bool Inside(const Rect& inner, const Rect& outer) {
  return inner.x >= outer.x && inner.y >= outer.y &&
         inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

class LayoutTest : public testing::Test {
 protected:
  void SetUp() override {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    panel_ = Build(ReadView());
    ASSERT_TRUE(panel_);
  }
  void TearDown() override { std::setlocale(LC_CTYPE, "C"); }

  std::shared_ptr<Panel> Build(const std::wstring& view) {
    factory_.CreatePanel(view);
    return factory_.LastPanel();
  }
  size_t Index(const Panel& panel, const wchar_t* name) const {
    for (size_t i = 0; i < panel.controls().size(); ++i) {
      if (panel.controls()[i]->name() == name) return i;
    }
    ADD_FAILURE() << "no control " << platform::WideToUtf8(name);
    return 0;
  }
  const PlacedControl& Placed(const ScreenLayout& layout, size_t page, const wchar_t* name) {
    const PlacedControl* placed = layout.Find(page, Index(*panel_, name));
    EXPECT_NE(placed, nullptr) << platform::WideToUtf8(name);
    static const PlacedControl kNone;
    return placed ? *placed : kNone;
  }

  ViewFactory factory_;
  std::shared_ptr<Panel> panel_;
};

TEST_F(LayoutTest, TheViewsPagesBecomeTabsAndTheirControlsFlowInViewOrder) {
  const ScreenLayout layout = ComputeLayout(panel_.get(), 40, 120);
  ASSERT_TRUE(layout.fits);
  EXPECT_EQ(layout.title, L"Marlgate Travels");
  ASSERT_EQ(layout.pages.size(), 3u);
  EXPECT_EQ(layout.pages[0].title, L"Search");
  EXPECT_EQ(layout.pages[1].title, L"Route");
  EXPECT_EQ(layout.pages[2].title, L"Notes");
  EXPECT_LT(layout.pages[0].tab.x + layout.pages[0].tab.width, layout.pages[1].tab.x + 1);

  // Search: the field and its button share a row, the field taking the
  // room; the list takes every row the check box leaves.
  const PlacedControl& text = Placed(layout, 0, L"SearchText");
  const PlacedControl& button = Placed(layout, 0, L"SearchButton");
  const PlacedControl& list = Placed(layout, 0, L"SearchList");
  const PlacedControl& check = Placed(layout, 0, L"WriteToChat");
  EXPECT_EQ(text.rect.y, layout.page.y);
  EXPECT_EQ(button.rect.y, text.rect.y);
  EXPECT_EQ(button.rect.x + button.rect.width, layout.page.x + layout.page.width);
  EXPECT_EQ(text.field.x, text.rect.x + static_cast<int>(std::wstring(L"Destination: [").size()));
  EXPECT_EQ(text.field.x + text.field.width, text.rect.x + text.rect.width - 1);  // "]"
  EXPECT_EQ(list.rect.y, text.rect.y + 1);
  EXPECT_EQ(check.rect.y, list.rect.y + list.rect.height);
  EXPECT_EQ(check.rect.y, layout.page.y + layout.page.height - 1);
  // Its columns: the text, then the icon; the last cell for scroll marks.
  ASSERT_EQ(list.columns.size(), 2u);
  EXPECT_FALSE(list.columns[0].icon);
  EXPECT_TRUE(list.columns[1].icon);
  EXPECT_EQ(list.icon_column, 1);
  EXPECT_EQ(list.columns[1].x + list.columns[1].width, list.rect.x + list.rect.width - 1);

  // Route: the button and the three check boxes on one row, after the list.
  const int row = Placed(layout, 1, L"SendToChat").rect.y;
  for (const wchar_t* name : {L"SendToAlleg", L"SendToFellow", L"SendToOpen"}) {
    EXPECT_EQ(Placed(layout, 1, name).rect.y, row) << platform::WideToUtf8(name);
  }
  EXPECT_GT(row, Placed(layout, 1, L"RouteList").rect.y);
  // A control of another page is not on this one.
  EXPECT_EQ(layout.Find(0, Index(*panel_, L"RouteList")), nullptr);
}

TEST_F(LayoutTest, WideTerminalsPutTheChatBesideThePanelNarrowOnesBelow) {
  const ScreenLayout wide = ComputeLayout(panel_.get(), 40, 120);
  EXPECT_EQ(wide.chat.y, 0);
  EXPECT_EQ(wide.chat.x, wide.panel.x + wide.panel.width);
  const ScreenLayout narrow = ComputeLayout(panel_.get(), 30, 80);
  ASSERT_TRUE(narrow.fits);
  EXPECT_EQ(narrow.chat.x, 0);
  EXPECT_EQ(narrow.chat.y, narrow.panel.y + narrow.panel.height);
  for (const ScreenLayout* layout : {&wide, &narrow}) {
    EXPECT_EQ(layout->help.y, layout->rows - 1);
    EXPECT_TRUE(Inside(layout->chat_log, layout->chat));
    EXPECT_TRUE(Inside(layout->chat_input, layout->chat));
    EXPECT_FALSE(Overlap(layout->chat_log, layout->chat_input));
  }
}

// Every size: a layout that fits keeps each control inside the page area,
// apart from the others, and each list at least kMinListRows high; one that
// does not fit names a size that does, and that size is the least.
TEST_F(LayoutTest, EverySizeEitherFitsCleanlyOrNamesTheLeastSizeThatFits) {
  for (int rows = 1; rows <= 50; rows += 1) {
    for (int cols = 1; cols <= 140; cols += 3) {
      SCOPED_TRACE(testing::Message() << cols << "x" << rows);
      const ScreenLayout layout = ComputeLayout(panel_.get(), rows, cols);
      if (!layout.fits) {
        ASSERT_TRUE(layout.need_rows > rows || layout.need_cols > cols);
        const ScreenLayout needed = ComputeLayout(panel_.get(), layout.need_rows,
                                                  std::max(layout.need_cols, cols));
        ASSERT_TRUE(needed.fits) << layout.need_cols << "x" << layout.need_rows;
        if (layout.need_rows > rows && layout.need_cols <= cols) {
          ASSERT_FALSE(ComputeLayout(panel_.get(), layout.need_rows - 1, cols).fits);
        }
        continue;
      }
      ASSERT_FALSE(Overlap(layout.panel, layout.chat));
      for (const PageLayout& page : layout.pages) {
        ASSERT_TRUE(Inside(page.tab, layout.tabs));
        for (size_t i = 0; i < page.controls.size(); ++i) {
          const PlacedControl& a = page.controls[i];
          ASSERT_TRUE(Inside(a.rect, layout.page));
          if (a.kind == ControlKind::kList) {
            ASSERT_GE(a.rect.height, kMinListRows);
          }
          if (a.kind == ControlKind::kTextBox) {
            ASSERT_GE(a.field.width, 6);
          }
          for (size_t j = i + 1; j < page.controls.size(); ++j) {
            ASSERT_FALSE(Overlap(a.rect, page.controls[j].rect));
          }
        }
      }
    }
  }
}

TEST_F(LayoutTest, ListsShareTheRowsByTheirHeights) {
  auto panel = Build(LR"(<view>
      <list name="Big" height="160"/>
      <label name="Between"/>
      <list name="Small" height="48"/>
    </view>)");
  const ScreenLayout layout = ComputeLayout(panel.get(), 50, 120);
  ASSERT_TRUE(layout.fits);
  ASSERT_EQ(layout.pages.size(), 1u);
  const auto& controls = layout.pages[0].controls;
  ASSERT_EQ(controls.size(), 3u);
  EXPECT_GT(controls[0].rect.height, 2 * controls[2].rect.height);
  EXPECT_EQ(controls[0].rect.height + 1 + controls[2].rect.height, layout.page.height);
}

TEST_F(LayoutTest, ControlsOutsidePagesShowOnEveryPageAndAViewWithoutPagesHasOne) {
  auto loose = Build(LR"(<view><label name="Top"/>
      <page label="One"><button name="B1"/></page>
      <page><button name="B2"/></page></view>)");
  const ScreenLayout with_pages = ComputeLayout(loose.get(), 40, 120);
  ASSERT_EQ(with_pages.pages.size(), 2u);
  EXPECT_EQ(with_pages.pages[1].title, L"Page 2");
  for (const PageLayout& page : with_pages.pages) {
    ASSERT_EQ(page.controls.size(), 2u);
    EXPECT_EQ(page.controls[0].control, 0u);
  }
  auto flat = Build(LR"(<view><textbox name="A"/><button name="B"/></view>)");
  const ScreenLayout one = ComputeLayout(flat.get(), 40, 120);
  ASSERT_EQ(one.pages.size(), 1u);
  EXPECT_EQ(one.pages[0].controls.size(), 2u);
  // No panel at all: the chat still works.
  const ScreenLayout none = ComputeLayout(nullptr, 24, 80);
  EXPECT_TRUE(none.fits);
  EXPECT_TRUE(none.pages.empty());
}

TEST(ColumnsTest, TheColumnsAttributeNamesTextAndIconColumns) {
  struct Case {
    const wchar_t* attribute;  // null: none
    std::vector<bool> icons;
    int icon_column;
  };
  const Case cases[] = {
      {L"text:240,icon:20", {false, true}, 1},
      {nullptr, {false, true}, 1},
      {L"", {false, true}, 1},
      {L" , ,", {false, true}, 1},
      {L"text", {false}, -1},
      {L"icon, text:100 ,text", {true, false, false}, 0},
      {L"picture:20,icon:abc", {false, true}, 1},
  };
  for (const Case& c : cases) {
    Attributes attributes;
    if (c.attribute) attributes[L"columns"] = c.attribute;
    const std::vector<ColumnSpec> columns = ParseColumns(attributes);
    std::vector<bool> icons;
    for (const ColumnSpec& column : columns) icons.push_back(column.icon);
    EXPECT_EQ(icons, c.icons) << (c.attribute ? platform::WideToUtf8(c.attribute) : "none");
    EXPECT_EQ(IconColumn(columns), c.icon_column);
  }
}

TEST_F(LayoutTest, HitFindsTabsListCellsFieldsAndTheChatInput) {
  const ScreenLayout layout = ComputeLayout(panel_.get(), 40, 120);
  ASSERT_TRUE(layout.fits);
  Hit hit = HitAt(layout, 0, layout.pages[2].tab.y, layout.pages[2].tab.x + 1);
  EXPECT_EQ(hit.kind, Hit::Kind::kTab);
  EXPECT_EQ(hit.page, 2u);

  const PlacedControl& list = Placed(layout, 0, L"SearchList");
  hit = HitAt(layout, 0, list.rect.y + 2, list.columns[0].x + 3);
  EXPECT_EQ(hit.kind, Hit::Kind::kControl);
  EXPECT_EQ(hit.control, list.control);
  EXPECT_EQ(hit.row, 2);
  EXPECT_EQ(hit.column, 0);
  hit = HitAt(layout, 0, list.rect.y, list.columns[1].x + 1);
  EXPECT_EQ(hit.column, 1);
  hit = HitAt(layout, 0, list.rect.y, list.rect.x + list.rect.width - 1);
  EXPECT_EQ(hit.column, -1);  // the scroll-mark cell

  const PlacedControl& text = Placed(layout, 0, L"SearchText");
  hit = HitAt(layout, 0, text.rect.y, text.field.x + 4);
  EXPECT_EQ(hit.control, text.control);
  EXPECT_EQ(hit.cell, 4);

  hit = HitAt(layout, 0, layout.chat_input.y, layout.chat_input.x + 5);
  EXPECT_EQ(hit.kind, Hit::Kind::kChatInput);
  EXPECT_EQ(HitAt(layout, 0, layout.chat_log.y, layout.chat_log.x).kind, Hit::Kind::kChatLog);
  // Another page's controls are not hit.
  EXPECT_NE(HitAt(layout, 1, list.rect.y + 2, list.columns[0].x + 3).control, list.control);
  // Nothing is hit on a terminal too small to show it.
  EXPECT_EQ(HitAt(ComputeLayout(panel_.get(), 5, 20), 0, 1, 1).kind, Hit::Kind::kNone);
}

}  // namespace
}  // namespace host::tui
