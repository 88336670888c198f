#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/ref.h"
#include "plugin/main.h"
#include "tests/fakes/fake_host.h"

namespace hardening {

// The plug-in started on the real platform of this build (libcurl, the
// thread's message loop, pugixml, files on disk) with the in-memory host of
// the fakes: a Main initialized on a FakeSite whose panel comes from the
// real view file, in a plug-in folder of its own (errors.txt lands there).
// Everything runs on the constructing thread.
class LivePlugin {
 public:
  LivePlugin();
  ~LivePlugin();
  LivePlugin(const LivePlugin&) = delete;
  LivePlugin& operator=(const LivePlugin&) = delete;

  // Sends the plug-in's requests to `connect_to` (HOST:PORT:ADDR:PORT).
  static void PointAt(const std::string& connect_to);

  fakes::FakePanel& panel() { return site_->panel(); }
  fakes::FakeList& List(const wchar_t* name) { return panel().List(name); }
  void ShowStatus(bool on) { panel().CheckBox(L"WriteToChat").checked = on; }
  // Types the words and presses SearchButton.
  void Search(const std::wstring& words);

  // Runs the thread's message loop until nothing is in flight or pending,
  // or `limit` has passed; true when it became idle.
  static bool RunUntilIdle(std::chrono::milliseconds limit);
  // Exchanges in flight and notifications not yet delivered, on this thread.
  static size_t Outstanding();

  // The texts of the chat lines in `colour`, in order, and all of them.
  std::vector<std::wstring> Lines(int32_t colour) const;
  std::vector<std::wstring> WarningLines() const;
  std::vector<std::wstring> ErrorLines() const;
  void ClearChat() { site_->chat->lines.clear(); }

  const std::filesystem::path& folder() const { return folder_; }
  std::filesystem::path error_log() const { return folder_ / "errors.txt"; }
  // The whole error log, "" when there is none.
  std::string ErrorLog() const;

  // A plug-in chat line (information or warning) as the host gets it.
  static std::wstring PluginLine(const std::wstring& text) { return L"[Marlgate_Travels] " + text; }

 private:
  std::filesystem::path folder_;
  platform::Ref<fakes::FakeSite> site_;
  std::shared_ptr<Main> main_;
};

}  // namespace hardening
