#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "host/site.h"
#include "plugin/main.h"

namespace bench {

// The plug-in started as a player has it: Main initialized on the reference
// host's site (its in-memory panel built from the real view file), with the
// platform the current thread's Env gives. The plug-in folder is a fresh
// temporary folder holding the view file; `memory_files`, when given, is a
// fake file system that gets the view file at the same path.
class BenchPlugin {
 public:
  explicit BenchPlugin(class MemoryFiles* memory_files = nullptr);
  ~BenchPlugin();
  BenchPlugin(const BenchPlugin&) = delete;
  BenchPlugin& operator=(const BenchPlugin&) = delete;

  host::Panel& panel() { return *site_->view_factory()->LastPanel(); }
  // Types the words and presses SearchButton.
  void Search(const std::wstring& words);
  // The rows of a list of the panel.
  int32_t RowCount(const wchar_t* list);

 private:
  std::filesystem::path folder_;
  std::shared_ptr<host::Site> site_;
  std::shared_ptr<Main> main_;
};

// Puts a file into a fake file system (so that bench_plugin.cc need not
// know the fakes' types).
class MemoryFiles {
 public:
  virtual ~MemoryFiles() = default;
  virtual void Put(const std::wstring& path, const std::wstring& text) = 0;
};

// The view file's text.
std::wstring ViewText();

}  // namespace bench
