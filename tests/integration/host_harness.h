#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace testing_support {

// A plug-in folder of its own for one test: a copy of the built plug-in
// library and, unless told otherwise, its view file. errors.txt lands here.
class PluginFolder {
 public:
  explicit PluginFolder(bool with_view = true);
  ~PluginFolder();
  PluginFolder(const PluginFolder&) = delete;
  PluginFolder& operator=(const PluginFolder&) = delete;

  const std::filesystem::path& path() const { return dir_; }
  std::filesystem::path library() const;
  std::filesystem::path error_log() const { return dir_ / "errors.txt"; }
  void WriteView(const std::string& text) const;
  // The whole error log, or "" when there is none.
  std::string ReadErrorLog() const;

 private:
  std::filesystem::path dir_;
};

// What one run of marlgate-host printed.
struct HostRun {
  int exit_code = -1;
  std::vector<nlohmann::json> events;
  std::string stderr_text;

  // The events of one kind, in order.
  std::vector<nlohmann::json> Of(const std::string& kind) const;
  // The "text" of every event of one kind, in order.
  std::vector<std::string> Texts(const std::string& kind) const;
};

// What a program printed, and how it ended (-1: it did not end normally).
struct CommandRun {
  int exit_code = -1;
  std::string output;
  std::string stderr_text;
};

// Runs the program at args[0] (a path) with the other arguments.
CommandRun RunCommand(std::vector<std::string> args);

// Runs marlgate-host in script mode with `script`, the plug-in from
// `folder`, and the given extra arguments.
HostRun RunHost(const PluginFolder& folder, const std::string& script,
                const std::vector<std::string>& extra_args = {});

// The same script cases run through both reference hosts: the Linux one
// (build/bin, MARLGATE_BIN_DIR), or, when MARLGATE_WINDOWS_BIN_DIR names the
// Windows build's bin folder, marlgate-host.exe with marlgate_travels.dll
// under Wine (MARLGATE_WINE, default /usr/bin/wine; the caller sets
// WINEPREFIX).
bool HostIsWindows();

// The folder of the built binaries of the host under test.
std::filesystem::path BinDir();

// A path of this machine as the host under test names it (Wine shows this
// machine's files on drive Z:).
std::string HostPath(const std::filesystem::path& path);

}  // namespace testing_support
