#include "tests/integration/host_harness.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

namespace fs = std::filesystem;

bool HostIsWindows() { return std::getenv("MARLGATE_WINDOWS_BIN_DIR") != nullptr; }

fs::path BinDir() {
  const char* dir = std::getenv(HostIsWindows() ? "MARLGATE_WINDOWS_BIN_DIR" : "MARLGATE_BIN_DIR");
  if (dir == nullptr) throw std::runtime_error("MARLGATE_BIN_DIR is not set");
  return fs::path(dir);
}

std::string HostPath(const fs::path& path) {
  if (!HostIsWindows()) return path.string();
  std::string text = "Z:" + fs::absolute(path).string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

fs::path PluginFolder::library() const {
  return dir_ / (HostIsWindows() ? "marlgate_travels.dll" : "marlgate_travels.so");
}

PluginFolder::PluginFolder(bool with_view) {
  std::string pattern = (fs::temp_directory_path() / "marlgate-plugin-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  fs::copy_file(BinDir() / library().filename(), library());
  if (with_view) fs::copy_file(BinDir() / "Marlgate_Travels.xml", dir_ / "Marlgate_Travels.xml");
}

PluginFolder::~PluginFolder() {
  std::error_code ignored;
  fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
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

CommandRun RunCommand(std::vector<std::string> args) {
  // Standard error goes to a file, so that a chatty one cannot block the
  // child while standard output is read to its end.
  char err_name[] = "/tmp/marlgate-stderr-XXXXXX";
  const int err_fd = mkstemp(err_name);
  if (err_fd < 0) throw std::runtime_error("mkstemp failed");
  int out_pipe[2];
  if (pipe(out_pipe) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_fd, STDERR_FILENO);
    close(out_pipe[0]);
    close(out_pipe[1]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  CommandRun run;
  run.output = ReadAll(out_pipe[0]);
  close(out_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  lseek(err_fd, 0, SEEK_SET);
  run.stderr_text = ReadAll(err_fd);
  close(err_fd);
  unlink(err_name);
  // Kept for the caller's own checks of the whole run (the Windows test
  // run looks for Wine's heap warnings there).
  if (const char* log = std::getenv("MARLGATE_WINE_STDERR_LOG"); log != nullptr && *log != '\0') {
    std::ofstream out(log, std::ios::binary | std::ios::app);
    out << "== " << args[0];
    for (size_t i = 1; i < args.size(); ++i) out << ' ' << args[i];
    out << " ==\n" << run.stderr_text;
  }
  return run;
}

HostRun RunHost(const PluginFolder& folder, const std::string& script,
                const std::vector<std::string>& extra_args) {
  fs::path script_file = folder.path() / "script.txt";
  {
    std::ofstream out(script_file, std::ios::binary | std::ios::trunc);
    out << script;
  }
  std::vector<std::string> args;
  if (HostIsWindows()) {
    const char* wine = std::getenv("MARLGATE_WINE");
    args = {wine != nullptr ? wine : "/usr/bin/wine", (BinDir() / "marlgate-host.exe").string(),
            "--plugin", HostPath(folder.library())};
  } else {
    args = {(BinDir() / "marlgate-host").string(), "--plugin", folder.library().string(),
            "--registry", (folder.path() / "registry.txt").string()};
  }
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  args.push_back("--script");
  args.push_back(HostPath(script_file));

  const CommandRun command = RunCommand(args);
  HostRun run;
  run.exit_code = command.exit_code;
  run.stderr_text = command.stderr_text;
  const std::string& out = command.output;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    run.events.push_back(nlohmann::json::parse(line));
  }
  return run;
}

}  // namespace testing_support
