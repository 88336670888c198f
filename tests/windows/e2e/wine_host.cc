#include "tests/windows/e2e/wine_host.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace windows_e2e {

namespace fs = std::filesystem;

fs::path BinDir() {
  const char* dir = std::getenv("MARLGATE_WINDOWS_BIN_DIR");
  if (dir == nullptr) throw std::runtime_error("MARLGATE_WINDOWS_BIN_DIR is not set");
  return fs::path(dir);
}

PluginFolder::PluginFolder(bool with_view) {
  std::string pattern = (fs::temp_directory_path() / "marlgate-wine-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  fs::copy_file(BinDir() / "marlgate_travels.dll", library());
  if (with_view) fs::copy_file(BinDir() / "Marlgate_Travels.xml", dir_ / "Marlgate_Travels.xml");
}

PluginFolder::~PluginFolder() {
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

void PluginFolder::WriteView(const std::string& text) const {
  std::ofstream out(dir_ / "Marlgate_Travels.xml", std::ios::binary | std::ios::trunc);
  out << text;
}

std::string PluginFolder::ReadErrorLog() const {
  std::ifstream in(error_log(), std::ios::binary);
  if (!in) return std::string();
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<nlohmann::json> HostRun::Of(const std::string& kind) const {
  std::vector<nlohmann::json> out;
  for (const auto& e : events) {
    if (e.value("event", "") == kind) out.push_back(e);
  }
  return out;
}

std::vector<std::string> HostRun::Texts(const std::string& kind) const {
  std::vector<std::string> out;
  for (const auto& e : Of(kind)) out.push_back(e.value("text", ""));
  return out;
}

std::string WindowsPath(const fs::path& path) {
  std::string text = "Z:" + fs::absolute(path).string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

namespace {

std::string ReadAll(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  return text;
}

}  // namespace

HostRun RunHost(const PluginFolder& folder, const std::string& script,
                const std::vector<std::string>& extra_args) {
  fs::path script_file = folder.path() / "script.txt";
  {
    std::ofstream out(script_file, std::ios::binary | std::ios::trunc);
    out << script;
  }
  fs::path err_file = folder.path() / "host-stderr.txt";
  const char* wine = std::getenv("MARLGATE_WINE");
  std::vector<std::string> args = {wine != nullptr ? wine : "wine",
                                   (BinDir() / "marlgate-host.exe").string(),
                                   "--plugin", WindowsPath(folder.library())};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  args.push_back("--script");
  args.push_back(WindowsPath(script_file));

  int out_pipe[2];
  if (pipe(out_pipe) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(out_pipe[1], STDOUT_FILENO);
    FILE* err = std::fopen(err_file.c_str(), "wb");
    if (err != nullptr) dup2(fileno(err), STDERR_FILENO);
    close(out_pipe[0]);
    close(out_pipe[1]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  std::string out = ReadAll(out_pipe[0]);
  close(out_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);

  HostRun run;
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    // Only the host's events are JSON; anything else on standard output is
    // a fault the tests should see.
    run.events.push_back(nlohmann::json::parse(line));
  }
  std::ifstream err(err_file, std::ios::binary);
  std::ostringstream err_text;
  err_text << err.rdbuf();
  run.stderr_text = err_text.str();
  return run;
}

}  // namespace windows_e2e
