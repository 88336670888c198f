// A small component library in place of the plug-in, for running
// marlgate-host end to end. Its Main builds a panel from a fixed view and
// answers the controls with chat lines, so a script can see that the host
// wires everything up:
//   Initialize       "init N" (N counts Initialize calls in this load: a
//                    reload starts again at 1), then builds the panel
//   Go (Accepted)    "/a TEXT" to the chat parser while Loud is ticked;
//                    "go ID TEXT"; the list gets one row; posts a task
//                    ("task ran") and a timer 1000 ms ahead ("timer fired")
//   Boom (Accepted)  raises platform::Error(kErrInternal, "boom")
//   Results (Change) "select ID COL ROW CELL" (CELL: column 0 of that row)
//   Login            "login NAME"
//   Terminate        "terminate"; drops the panel and the filter

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "hostapi/controls.h"
#include "hostapi/host.h"
#include "hostapi/plugin.h"
#include "platform/component.h"
#include "platform/error.h"
#include "platform/event.h"
#include "platform/message_loop.h"
#include "platform/ref.h"
#include "platform/variant.h"

namespace {

constexpr platform::Guid kMainClassId{
    0xDA1DF1DA, 0x18A6, 0x473F, {0x85, 0x1E, 0x0D, 0x1A, 0x0F, 0xBD, 0x7D, 0x06}};
constexpr int32_t kColour = 14;
constexpr int32_t kRowIcon = 100667896;

constexpr const wchar_t* kView = LR"(<?xml version="1.0"?>
<view title="Test">
  <page label="One">
    <textbox name="Words" caption="Words"/>
    <button name="Go" caption="Go"/>
    <list name="Results" columns="text:100,icon:20"/>
  </page>
  <label name="Status"/>
  <checkbox name="Loud" caption="Loud"/>
  <button name="Boom"/>
</view>)";

// Objects alive and server locks; the library may go when both are none.
int live_objects = 0;
int initializations = 0;

class TestMain : public hostapi::Plugin2 {
 public:
  TestMain() { ++live_objects; }
  ~TestMain() override {
    if (timer_ != 0) platform::MessageLoop::Current().CancelTimer(timer_);
    --live_objects;
  }

  void Initialize(platform::Ref<hostapi::Site> site) override {
    ++initializations;
    site_ = site;
    if (!site_) return;
    try {
      Chat(L"init " + std::to_wstring(initializations));
      stats_ = site_->LookupObject(hostapi::kCharacterStatsPath).As<hostapi::CharacterStats>();
      login_ = stats_->Login.Connect([this](int32_t) { Chat(L"login " + stats_->Name()); });
      panel_ = site_->GetViewFactory()->CreatePanel(kView);
      words_ = panel_->FindControl(L"Words").As<hostapi::TextBox>();
      loud_ = panel_->FindControl(L"Loud").As<hostapi::CheckBox>();
      results_ = panel_->FindControl(L"Results").As<hostapi::List>();
      auto go = panel_->FindControl(L"Go").As<hostapi::Button>();
      go_ = go->Accepted.Connect([this](int32_t id) { Go(id); });
      auto boom = panel_->FindControl(L"Boom").As<hostapi::Button>();
      boom_ = boom->Accepted.Connect(
          [](int32_t) { platform::Raise(platform::kErrInternal, L"boom"); });
      select_ = results_->Change.Connect([this](int32_t id, int32_t column, int32_t row) {
        Chat(L"select " + std::to_wstring(id) + L" " + std::to_wstring(column) + L" " +
             std::to_wstring(row) + L" " + platform::VariantText(results_->Cell(0, row, 0)));
      });
    } catch (const platform::Error& e) {
      Chat(L"init failed: " + e.description());
    }
  }

  void Terminate() override {
    Chat(L"terminate");
    login_.reset();
    stats_.reset();
    panel_.reset();
  }

 private:
  void Chat(const std::wstring& line) { site_->GetChatServices()->WriteToChat(line, kColour, 1); }

  void Go(int32_t id) {
    const std::wstring words = words_->Text();
    if (loud_->Checked()) site_->GetChatServices()->ParseChatCommand(L"/a " + words);
    Chat(L"go " + std::to_wstring(id) + L" " + words);
    results_->Clear();
    results_->InsertRow(0);
    results_->SetCell(0, 0, 0, platform::Variant(words));
    results_->SetCell(1, 0, 1, platform::Variant(kRowIcon));
    auto& loop = platform::MessageLoop::Current();
    auto site = site_;
    loop.PostTask([site] { site->GetChatServices()->WriteToChat(L"task ran", kColour, 1); });
    if (timer_ != 0) loop.CancelTimer(timer_);
    timer_ = loop.AddTimer(loop.Now() + std::chrono::milliseconds(1000), [this] {
      timer_ = 0;
      Chat(L"timer fired");
    });
  }

  platform::Ref<hostapi::Site> site_;
  platform::Ref<hostapi::CharacterStats> stats_;
  platform::Ref<hostapi::Panel> panel_;
  platform::Ref<hostapi::TextBox> words_;
  platform::Ref<hostapi::CheckBox> loud_;
  platform::Ref<hostapi::List> results_;
  platform::Connection login_;
  platform::Connection go_;
  platform::Connection boom_;
  platform::Connection select_;
  platform::MessageLoop::Id timer_ = 0;
};

class TestFactory : public platform::ClassFactory {
 public:
  TestFactory() { ++live_objects; }
  ~TestFactory() override { --live_objects; }

  platform::HResult CreateInstance(const platform::Guid& iid,
                                   std::shared_ptr<void>* out) override {
    if (!(iid == hostapi::kIidPlugin2)) return platform::kNoInterface;
    *out = std::shared_ptr<hostapi::Plugin2>(std::make_shared<TestMain>());
    return platform::kOk;
  }
  platform::HResult LockServer(bool lock) override {
    live_objects += lock ? 1 : -1;
    return platform::kOk;
  }
};

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT platform::HResult DllGetClassObject(const platform::Guid* clsid,
                                           std::shared_ptr<platform::ClassFactory>* out) {
  if (clsid == nullptr || out == nullptr) return platform::kFail;
  if (!(*clsid == kMainClassId)) return platform::kClassNotAvailable;
  *out = std::make_shared<TestFactory>();
  return platform::kOk;
}

EXPORT platform::HResult DllCanUnloadNow() {
  return live_objects == 0 ? platform::kOk : platform::kFalse;
}

EXPORT platform::HResult DllRegisterServer() {
  try {
    platform::ComponentRegistry::Register(
        {kMainClassId, "MarlgateHostTest.Main", platform::ModulePathOf(&live_objects)});
    return platform::kOk;
  } catch (const platform::Error&) {
    return platform::kFail;
  }
}

EXPORT platform::HResult DllUnregisterServer() {
  try {
    platform::ComponentRegistry::Unregister(kMainClassId);
    return platform::kOk;
  } catch (const platform::Error&) {
    return platform::kFail;
  }
}
