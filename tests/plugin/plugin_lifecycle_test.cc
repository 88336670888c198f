// Main's start and stop against in-memory host objects.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "hub/plugin_name.h"
#include "platform/env.h"
#include "platform/text.h"
#include "plugin/main.h"
#include "plugin/plugin_state.h"
#include "tests/fakes/fake_env.h"
#include "tests/fakes/fake_host.h"

#ifndef MARLGATE_VIEW_FILE
#error "MARLGATE_VIEW_FILE names the plug-in's view file"
#endif

namespace {

std::wstring ViewText() {
  std::ifstream in(MARLGATE_VIEW_FILE, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return platform::Utf8ToWide(text.str());
}

class PluginLifecycleTest : public ::testing::Test {
 public:
  PluginLifecycleTest() : scoped_env_(&env_) {
    Hub::DropPluginState();
    Hub::SetPluginFolderForTesting(L"/plugin");
    env_.file_system().SetText(L"/plugin/Marlgate_Travels.xml", ViewText());
  }
  ~PluginLifecycleTest() override {
    main_.reset();
    Hub::DropPluginState();
  }

  std::vector<std::wstring> ChatTexts() const {
    std::vector<std::wstring> texts;
    for (const auto& line : site_->chat->lines) texts.push_back(line.text);
    return texts;
  }

  fakes::FakeEnv env_;
  platform::ScopedEnv scoped_env_;
  platform::Ref<fakes::FakeSite> site_ = platform::MakeRef<fakes::FakeSite>();
  std::shared_ptr<Main> main_ = std::make_shared<Main>();
};

TEST_F(PluginLifecycleTest, LoginNamesTravelWithRequests) {
  main_->IPlugin2_Initialize(site_);
  ASSERT_TRUE(site_->chat->lines.empty()) << platform::WideToUtf8(ChatTexts()[0]);
  site_->char_stats->LogIn(L"Ann Lee+1");
  EXPECT_EQ(Hub::PluginState().CurrentCharacter, L"Ann Lee+1");
  site_->char_stats->LogIn(L"Bo");
  EXPECT_EQ(Hub::PluginState().CurrentCharacter, L"Bo");

  auto& panel = site_->panel();
  panel.TextBox(L"SearchText").text = L"holt";
  panel.Button(L"SearchButton").Click();
  const std::wstring& body = env_.LastRequest().body;
  EXPECT_NE(body.find(L"&currentcharacter=Bo&random="), std::wstring::npos) << platform::WideToUtf8(body);
}

TEST_F(PluginLifecycleTest, TerminateLetsGoAndASecondInitializeObtainsAgain) {
  main_->IPlugin2_Initialize(site_);
  site_->char_stats->LogIn(L"Ann");
  main_->IPlugin2_Terminate();
  auto& state = Hub::PluginState();
  EXPECT_TRUE(state.CharStats.empty());
  EXPECT_TRUE(state.ViewFactory.empty());
  EXPECT_FALSE(state.Site.empty());
  // The Login subscription ended with Terminate.
  site_->char_stats->LogIn(L"Other");
  EXPECT_EQ(state.CurrentCharacter, L"Ann");

  main_->IPlugin2_Initialize(site_);
  EXPECT_FALSE(state.CharStats.empty());
  EXPECT_EQ(site_->view_factory->panels_created, 2);
  EXPECT_EQ(state.CurrentCharacter, L"Ann");
  EXPECT_TRUE(site_->chat->lines.empty());
}

TEST_F(PluginLifecycleTest, FailedSteps) {
  struct Case {
    const char* name;
    std::function<void(PluginLifecycleTest&)> arrange;
    std::vector<std::wstring> chat;
  };
  const std::wstring prefix = L"[Marlgate_Travels v1.0.0.2] Error #";
  const Case cases[] = {
      {"no filter",
       [](PluginLifecycleTest& t) { t.site_->char_stats.reset(); },
       {prefix + L"5 occurred in IPlugin2_Initialize: No object at that path @ line 40"}},
      {"request object cannot be made",
       [](PluginLifecycleTest& t) { t.env_.fail_create_timer = true; },
       {prefix + L"9010 occurred in IPlugin2_Initialize: fake creation failed @ line 130"}},
  };
  for (const auto& c : cases) {
    Hub::DropPluginState();
    site_ = platform::MakeRef<fakes::FakeSite>();
    env_.fail_create_timer = false;
    main_ = std::make_shared<Main>();
    c.arrange(*this);
    main_->IPlugin2_Initialize(site_);
    auto texts = ChatTexts();
    ASSERT_EQ(texts.size(), c.chat.size()) << c.name;
    // The number and the step are the plug-in's; the description is the fake's.
    for (size_t i = 0; i < texts.size(); ++i) {
      auto head = c.chat[i].substr(0, c.chat[i].find(L':'));
      auto tail = c.chat[i].substr(c.chat[i].rfind(L" @ line "));
      EXPECT_EQ(texts[i].substr(0, head.size()), head) << c.name;
      EXPECT_EQ(texts[i].substr(texts[i].size() - tail.size()), tail) << c.name;
    }
  }
}

TEST_F(PluginLifecycleTest, ServiceUrlIsFixedButTheHostIsConfigured) {
  std::wstring url = Main::ServiceURL();
  EXPECT_EQ(url.rfind(L"http://", 0), 0u);
  EXPECT_EQ(url.substr(url.size() - 28), L"/marlgate_travels/travel.php");
}

}  // namespace

namespace {

// A thread that starts after another has ended often gets the same thread
// id (glibc hands the ended thread's stack and id to the next): it must
// still start with a state of its own, never the objects and name that the
// ended thread left. Dropping one thread's state leaves the others'.
TEST(PluginStatePerThread, ANewThreadNeverInheritsAnEndedThreadsState) {
  Hub::DropPluginState();
  Hub::PluginState().CurrentCharacter = L"main thread";
  for (int i = 0; i < 20; ++i) {
    std::wstring seen;
    std::thread([&] {
      seen = Hub::PluginState().CurrentCharacter;
      Hub::PluginState().CurrentCharacter = L"ended thread";
    }).join();
    ASSERT_EQ(seen, L"") << "thread " << i;
  }
  std::thread([] { Hub::DropThisThreadPluginState(); }).join();
  EXPECT_EQ(Hub::PluginState().CurrentCharacter, L"main thread");
  Hub::DropThisThreadPluginState();
  EXPECT_EQ(Hub::PluginState().CurrentCharacter, L"");
  Hub::DropPluginState();
}

}  // namespace
