#include "platform/env.h"

#include <stdlib.h>

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "platform/text.h"

namespace platform {
namespace {

// An Env that only has to be told apart from others.
class MarkerEnv final : public Env {
 public:
  Ref<Timer> CreateTimer() override { return nullptr; }
  Ref<HttpRequest> CreateHttpRequest() override { return nullptr; }
  Ref<XmlDocument> CreateXmlDocument() override { return nullptr; }
  Ref<FileSystem> CreateFileSystem() override { return nullptr; }
  std::wstring LongDate() override { return L"marker"; }
  std::wstring ShortTime() override { return L"marker"; }
  wchar_t PathSeparator() const override { return L'|'; }
  std::optional<Setting> ServiceAddress() override { return std::nullopt; }
};

TEST(EnvTest, ScopedEnvInstallsForItsThreadAndScopeOnly) {
  Env* const real = Env::Default();
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(Env::Current(), real);
  MarkerEnv outer_env;
  MarkerEnv inner_env;
  {
    ScopedEnv outer(&outer_env);
    EXPECT_EQ(Env::Current(), &outer_env);
    {
      ScopedEnv inner(&inner_env);
      EXPECT_EQ(Env::Current(), &inner_env);
      Env* elsewhere = nullptr;
      std::thread([&] { elsewhere = Env::Current(); }).join();
      EXPECT_EQ(elsewhere, real);
    }
    EXPECT_EQ(Env::Current(), &outer_env);
  }
  EXPECT_EQ(Env::Current(), real);
}

TEST(EnvTest, DefaultMakesLinuxObjectsAndTellsTheTime) {
  ::setenv("LC_ALL", "C.UTF-8", 1);
  Env* env = Env::Default();
  EXPECT_EQ(env->PathSeparator(), L'/');
  EXPECT_TRUE(env->CreateTimer());
  EXPECT_TRUE(env->CreateFileSystem());
  EXPECT_TRUE(env->CreateHttpRequest());
  EXPECT_TRUE(env->CreateXmlDocument());
  EXPECT_TRUE(std::regex_match(WideToUtf8(env->ShortTime()), std::regex("(1[0-2]|[1-9]):[0-5][0-9] (AM|PM)")))
      << WideToUtf8(env->ShortTime());
  EXPECT_TRUE(std::regex_match(WideToUtf8(env->LongDate()),
                               std::regex("[A-Z][a-z]+day, [A-Z][a-z]+ [1-9][0-9]?, [0-9]{4}")))
      << WideToUtf8(env->LongDate());
  ::unsetenv("LC_ALL");
}

}  // namespace
}  // namespace platform
