#include "tests/hardening/host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace hardening {

namespace fs = std::filesystem;

namespace {

fs::path BinDir() {
  const char* dir = std::getenv("MARLGATE_BIN_DIR");
  if (dir == nullptr) throw std::runtime_error("MARLGATE_BIN_DIR is not set");
  return fs::path(dir);
}

}  // namespace

HostProcess::HostProcess(const fs::path& library, const std::vector<std::string>& extra_args) {
  stderr_file_ = library.parent_path() / "host-stderr.txt";
  std::vector<std::string> args = {(BinDir() / "marlgate-host").string(), "--plugin",
                                   library.string(), "--registry",
                                   (library.parent_path() / "registry.txt").string()};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  args.push_back("--script");
  args.push_back("-");

  // Everything the child needs is made before the fork: a child of a
  // threaded process may only make async-signal-safe calls.
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // A host that died must show as a failed write, not end the test.
  ::signal(SIGPIPE, SIG_IGN);

  int in_pipe[2];
  int out_pipe[2];
  if (::pipe2(in_pipe, O_CLOEXEC) != 0 || ::pipe2(out_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::dup2(in_pipe[0], STDIN_FILENO);
    ::dup2(out_pipe[1], STDOUT_FILENO);
    int err = ::open(stderr_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err >= 0) ::dup2(err, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  input_fd_ = in_pipe[1];
  output_fd_ = out_pipe[0];
  reader_ = std::thread([this] { ReadEvents(); });
}

HostProcess::~HostProcess() {
  if (!finished_) {
    try {
      Finish();
    } catch (...) {
    }
  }
}

void HostProcess::ReadEvents() {
  std::string pending;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(output_fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    size_t start = 0;
    std::vector<nlohmann::json> parsed;
    for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
      if (end == start) continue;
      // A line that is not JSON breaks the host's contract; it is kept as
      // an event of its own for the test to fail on.
      nlohmann::json e = nlohmann::json::parse(pending.begin() + start, pending.begin() + end,
                                               nullptr, false);
      if (e.is_discarded()) {
        e = {{"event", "not-json"}, {"text", pending.substr(start, std::min<size_t>(end - start, 200))}};
      }
      parsed.push_back(std::move(e));
    }
    pending.erase(0, start);
    if (!parsed.empty()) {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto& e : parsed) events_.push_back(std::move(e));
      arrived_.notify_all();
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  output_ended_ = true;
  arrived_.notify_all();
}

void HostProcess::Send(const std::string& line) {
  std::string data = line + "\n";
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(input_fd_, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("the host does not take commands any more");
    done += static_cast<size_t>(n);
  }
}

std::vector<nlohmann::json> HostProcess::Sync() {
  const std::string token = "sync-" + std::to_string(next_token_++);
  Send("echo " + token);
  std::vector<nlohmann::json> before;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    while (!events_.empty()) {
      nlohmann::json e = std::move(events_.front());
      events_.pop_front();
      if (e.value("event", "") == "echo" && e.value("text", "") == token) return before;
      before.push_back(std::move(e));
    }
    if (output_ended_) throw std::runtime_error("the host ended before " + token);
    arrived_.wait(lock);
  }
}

long HostProcess::ResidentKib() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

HostProcess::Outcome HostProcess::Finish() {
  finished_ = true;
  ::close(input_fd_);
  if (reader_.joinable()) reader_.join();
  ::close(output_fd_);
  Outcome outcome;
  int status = 0;
  rusage usage{};
  while (::wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  outcome.peak_resident_kib = usage.ru_maxrss;
  outcome.events.assign(events_.begin(), events_.end());
  std::ifstream err(stderr_file_, std::ios::binary);
  std::ostringstream text;
  text << err.rdbuf();
  outcome.stderr_text = text.str();
  return outcome;
}

}  // namespace hardening
