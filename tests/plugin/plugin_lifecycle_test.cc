// Main's start and stop against in-memory host objects.

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
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
  std::wstring url = Main::DefaultServiceURL();
  EXPECT_EQ(url.rfind(L"http://", 0), 0u);
  EXPECT_EQ(url.substr(url.size() - 28), L"/marlgate_travels/travel.php");
}

// An address set for the machine is where the requests go; one that cannot
// serve is reported once, at Initialize, and the default serves instead.
TEST_F(PluginLifecycleTest, AServiceAddressSetForTheMachineIsUsedWhenItServes) {
  const std::wstring fallback = Main::DefaultServiceURL();
  const std::wstring refused = L"[Marlgate_Travels v1.0.0.2] Error #5 occurred in IPlugin2_Initialize: "
                               L"The travel service address in REG\\ServiceURL ";
  const std::wstring used = L"; using " + fallback + L" @ line 132";
  struct Case {
    std::optional<std::wstring> setting;
    std::wstring url;
    std::wstring chat;  // the one line in chat, or none
  };
  const Case cases[] = {
      {std::nullopt, fallback, L""},
      {L"", fallback, L""},
      {L"http://travel.example.org:8080/mt/travel.php", L"http://travel.example.org:8080/mt/travel.php", L""},
      {L"HTTP://Travel.Example.org/t.php?x=1", L"http://Travel.Example.org/t.php?x=1", L""},
      {L"http://" + std::wstring(2041, L'a'), L"http://" + std::wstring(2041, L'a'), L""},
      {L"http://" + std::wstring(2042, L'a'), fallback, refused + L"is longer than 2048 characters" + used},
      {L"https://travel.example.org/", fallback, refused + L"is not an http:// URL" + used},
      {L"travel.example.org", fallback, refused + L"is not an http:// URL" + used},
      {L"http://", fallback, refused + L"names no host" + used},
      {L"http:///travel.php", fallback, refused + L"names no host" + used},
      {L"http://:80/travel.php", fallback, refused + L"names no host" + used},
      {L"http://travel example.org/", fallback,
       refused + L"holds a blank, a control or a non-ASCII character" + used},
      {L"http://travel.example.org/\u00e9", fallback,
       refused + L"holds a blank, a control or a non-ASCII character" + used},
      {L"http://travel.example.org/\n", fallback,
       refused + L"holds a blank, a control or a non-ASCII character" + used},
      {L"http://travel.example.org/t.php\"", fallback, refused + L"holds a character a URL cannot carry" + used},
      {L"http://travel.example.org/<x>", fallback, refused + L"holds a character a URL cannot carry" + used},
  };
  for (const Case& c : cases) {
    const std::string name = c.setting ? platform::WideToUtf8(c.setting->substr(0, 60)) : "none";
    Hub::DropPluginState();
    site_ = platform::MakeRef<fakes::FakeSite>();
    env_.service_address.reset();
    if (c.setting) env_.service_address = platform::Setting{*c.setting, L"REG\\ServiceURL"};
    main_ = std::make_shared<Main>();
    main_->IPlugin2_Initialize(site_);
    EXPECT_EQ(ChatTexts(), c.chat.empty() ? std::vector<std::wstring>{} : std::vector<std::wstring>{c.chat})
        << name;
    site_->panel().TextBox(L"SearchText").text = L"holt";
    site_->panel().Button(L"SearchButton").Click();
    EXPECT_EQ(env_.LastRequest().url, c.url) << name;
  }
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
