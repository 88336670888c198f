#include "host/view_factory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "host/list.h"
#include "platform/error.h"
#include "platform/text.h"

namespace host {
namespace {

constexpr const wchar_t* kGoodView = LR"(<?xml version="1.0" encoding="UTF-8"?>
<!-- a comment before the root -->
<view title="Caf&#233; Travels" width="300">
  <textbox name="Top"/>
  <page label="Search">
    <textbox name="SearchText" caption="Destination"/>
    <button name="SearchButton" caption="Search"/>
    <list name="SearchList" columns="text:240,icon:20"/>
  </page>
  <page label="Route">
    <label name="Dest" caption="Destination"/>
    <checkbox name="SendToAlleg" caption="Allegiance"/>
  </page>
</view>)";

TEST(ViewFactoryTest, BuildsControlsInViewOrderWithIdsKindsPagesAndLayout) {
  ViewFactory factory;
  auto panel_ref = factory.CreatePanel(kGoodView);
  std::shared_ptr<Panel> panel = factory.LastPanel();
  ASSERT_TRUE(panel);
  EXPECT_EQ(panel_ref.get(), panel.get());

  struct Expected {
    const wchar_t* name;
    ControlKind kind;
  };
  const Expected expected[] = {
      {L"Top", ControlKind::kTextBox},       {L"SearchText", ControlKind::kTextBox},
      {L"SearchButton", ControlKind::kButton}, {L"SearchList", ControlKind::kList},
      {L"Dest", ControlKind::kLabel},        {L"SendToAlleg", ControlKind::kCheckBox},
  };
  ASSERT_EQ(panel->controls().size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    const auto& control = panel->controls()[i];
    EXPECT_EQ(control->name(), expected[i].name);
    EXPECT_EQ(control->kind(), expected[i].kind);
    EXPECT_EQ(control->id(), static_cast<int32_t>(i + 1));
    // The plug-in's lookup finds the same object in its role.
    EXPECT_EQ(dynamic_cast<HostControl*>(panel_ref->FindControl(expected[i].name).get()),
              control.get());
  }
  EXPECT_TRUE(panel_ref->FindControl(L"SearchList").As<hostapi::List>());

  EXPECT_EQ(panel->attributes().at(L"title"), L"Caf\u00e9 Travels");
  ASSERT_EQ(panel->pages().size(), 2u);
  EXPECT_EQ(panel->pages()[0].attributes.at(L"label"), L"Search");
  EXPECT_EQ(panel->pages()[0].control_ids, (std::vector<int32_t>{2, 3, 4}));
  EXPECT_EQ(panel->pages()[1].attributes.at(L"label"), L"Route");
  EXPECT_EQ(panel->pages()[1].control_ids, (std::vector<int32_t>{5, 6}));
  const auto& list_layout = panel->Find(L"SearchList")->attributes();
  EXPECT_EQ(list_layout.at(L"columns"), L"text:240,icon:20");
  EXPECT_EQ(list_layout.count(L"name"), 0u);
}

TEST(ViewFactoryTest, FindControlFailsForAnUnknownName) {
  ViewFactory factory;
  auto panel = factory.CreatePanel(kGoodView);
  try {
    panel->FindControl(L"searchtext");  // names are case-sensitive
    FAIL() << "no error";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), platform::kErrInvalidArgument);
    EXPECT_EQ(e.description(), L"No control named searchtext");
  }
}

TEST(ViewFactoryTest, RejectsTextThatIsNotAViewAndKeepsThePanelBuiltBefore) {
  const wchar_t* bad_views[] = {
      L"",
      L"not xml at all",
      L"<view><textbox name=\"A\"></view>",                 // not well-formed
      L"<view><textbox name=\"A\"/></view><view/>",          // two roots
      L"<panel><textbox name=\"A\"/></panel>",               // another root
      L"<View><textbox name=\"A\"/></View>",
      L"<view><textbox/></view>",                            // no name
      L"<view><button name=\"\"/></view>",
      L"<view><label name=\"A\"/><page><list name=\"A\"/></page></view>",  // duplicate
      L"<view><slider name=\"A\"/></view>",                  // unknown kind
      L"<view><page><page><label name=\"A\"/></page></page></view>",
  };
  ViewFactory factory;
  factory.CreatePanel(L"<view><label name=\"Kept\"/></view>");
  for (size_t i = 0; i < std::size(bad_views); ++i) {
    const wchar_t* view = bad_views[i];
    SCOPED_TRACE(testing::Message() << "view #" << i);
    try {
      factory.CreatePanel(view);
      ADD_FAILURE() << "accepted";
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.number(), platform::kErrInvalidArgument);
    }
    ASSERT_TRUE(factory.LastPanel());
    EXPECT_TRUE(factory.LastPanel()->Find(L"Kept"));
  }
  factory.Forget();
  EXPECT_FALSE(factory.LastPanel());
}

TEST(ViewFactoryTest, AcceptsAnEmptyViewAndNestedLayoutElementsInsideControls) {
  ViewFactory factory;
  factory.CreatePanel(L"<view/>");
  EXPECT_TRUE(factory.LastPanel()->controls().empty());
  factory.CreatePanel(L"<view><list name=\"L\"><column width=\"20\"/></list></view>");
  EXPECT_EQ(factory.LastPanel()->controls().size(), 1u);
}

// The plug-in's own view file must build: every control the plug-in binds
// is looked up in the panel made from it.
TEST(ViewFactoryTest, BuildsThePlugInsViewFile) {
  std::ifstream in(MARLGATE_VIEW_FILE, std::ios::binary);
  ASSERT_TRUE(in.is_open()) << MARLGATE_VIEW_FILE;
  std::ostringstream text;
  text << in.rdbuf();
  ViewFactory factory;
  factory.CreatePanel(platform::Utf8ToWide(text.str()));
  EXPECT_EQ(factory.LastPanel()->controls().size(), 16u);
}

}  // namespace
}  // namespace host
