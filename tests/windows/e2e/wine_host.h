#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace windows_e2e {

// The Windows build's bin folder (MARLGATE_WINDOWS_BIN_DIR).
std::filesystem::path BinDir();

// A plug-in folder of its own for one test: a copy of the built
// marlgate_travels.dll and, unless told otherwise, its view file.
// errors.txt lands here.
class PluginFolder {
 public:
  explicit PluginFolder(bool with_view = true);
  ~PluginFolder();
  PluginFolder(const PluginFolder&) = delete;
  PluginFolder& operator=(const PluginFolder&) = delete;

  const std::filesystem::path& path() const { return dir_; }
  std::filesystem::path library() const { return dir_ / "marlgate_travels.dll"; }
  std::filesystem::path error_log() const { return dir_ / "errors.txt"; }
  void WriteView(const std::string& text) const;
  // The whole error log, or "" when there is none.
  std::string ReadErrorLog() const;

 private:
  std::filesystem::path dir_;
};

// What one run of marlgate-host.exe printed.
struct HostRun {
  int exit_code = -1;
  std::vector<nlohmann::json> events;
  std::string stderr_text;

  std::vector<nlohmann::json> Of(const std::string& kind) const;
  std::vector<std::string> Texts(const std::string& kind) const;
};

// The Windows path of a file of this machine, as Wine's drive Z: shows it.
std::string WindowsPath(const std::filesystem::path& path);

// Runs bin/marlgate-host.exe under Wine in script mode with `script`, the
// plug-in from `folder`, and the extra arguments.
HostRun RunHost(const PluginFolder& folder, const std::string& script,
                const std::vector<std::string>& extra_args = {});

}  // namespace windows_e2e
