#include "tests/service/service_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace service_test {

std::string Executable() {
  const char* dir = std::getenv("MARLGATE_BIN_DIR");
  return std::string(dir != nullptr ? dir : ".") + "/marlgate-travel-service";
}

namespace {

// Starts `program` with its standard error on `stderr_fd`.
Child Start(const std::string& program, const std::vector<std::string>& arguments,
            int stderr_fd) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return {};
  std::vector<std::string> copies = arguments;
  copies.insert(copies.begin(), program);
  std::vector<char*> argv;
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[1], STDOUT_FILENO);
    dup2(stderr_fd, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  return {pid, pipe_fds[0]};
}

int OpenForWriting(const std::filesystem::path& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

}  // namespace

Child StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::filesystem::path& stderr_file) {
  const int err = OpenForWriting(stderr_file);
  const Child child = Start(program, arguments, err);
  if (err >= 0) ::close(err);
  return child;
}

Child StartService(const std::vector<std::string>& arguments, int stderr_fd) {
  return Start(Executable(), arguments, stderr_fd);
}

Child StartService(const std::vector<std::string>& arguments,
                   const std::filesystem::path& stderr_file) {
  return StartProgram(Executable(), arguments, stderr_file);
}

std::string ReadOutput(int fd, const std::string& until, std::chrono::milliseconds limit) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!until.empty() && text.find(until) != std::string::npos) break;
    pollfd poll_fd{fd, POLLIN, 0};
    if (poll(&poll_fd, 1, 50) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

int ListeningPort(const Child& child) {
  const std::string banner = ReadOutput(child.stdout_fd, "\n");
  const std::string prefix = "listening on 127.0.0.1:";
  if (banner.rfind(prefix, 0) != 0) return 0;
  return std::atoi(banner.c_str() + prefix.size());
}

std::pair<int, int> ListeningPorts(const Child& child) {
  const std::string client = "listening on 127.0.0.1:";
  const std::string admin = "admin listening on 127.0.0.1:";
  // The two lines come in one write.
  const std::string text = ReadOutput(child.stdout_fd, "\nadmin listening on ");
  const std::size_t at = text.find(admin);
  if (text.rfind(client, 0) != 0 || at == std::string::npos) return {0, 0};
  return {std::atoi(text.c_str() + client.size()), std::atoi(text.c_str() + at + admin.size())};
}

int Wait(const Child& child, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  int code = -1;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(child.pid, &status, WNOHANG) == child.pid) {
      code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (code == -1) {
    kill(child.pid, SIGKILL);
    waitpid(child.pid, &status, 0);
  }
  close(child.stdout_fd);
  return code;
}

long PeakResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

}  // namespace service_test
