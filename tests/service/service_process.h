#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace service_test {

// The marlgate-travel-service executable run as a child process, for the
// tests of the executable itself. Every wait is bounded; a child that does
// not end in time is killed.

struct Child {
  pid_t pid = -1;
  int stdout_fd = -1;  // a pipe from the child's standard output
};

// Starts `program` (a path) with `arguments`; its standard output comes to
// Child::stdout_fd, its standard error goes to `stderr_file`.
Child StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::filesystem::path& stderr_file);

// Starts the executable with `arguments`; its standard error goes to
// `stderr_fd` (a pipe the test holds, say) or to `stderr_file`.
Child StartService(const std::vector<std::string>& arguments, int stderr_fd);
Child StartService(const std::vector<std::string>& arguments,
                   const std::filesystem::path& stderr_file);

// Reads the child's standard output until it ends or `until` appears.
std::string ReadOutput(int fd, const std::string& until = "",
                       std::chrono::milliseconds limit = std::chrono::seconds(20));

// The port of a started "serve" (from "listening on HOST:PORT"); 0 when it
// did not say.
int ListeningPort(const Child& child);

// The ports of a started "serve" and of its admin listener (from the
// lines "listening on ..." and "admin listening on ..."); zeros when it did
// not say.
std::pair<int, int> ListeningPorts(const Child& child);

// The path of the marlgate-travel-service executable.
std::string Executable();

// The exit code; 128 + the signal when a signal ended it; -1 when it did not
// end within `limit` (it is then killed).
int Wait(const Child& child, std::chrono::milliseconds limit = std::chrono::seconds(20));

// The child's peak resident size in KiB (VmHWM), 0 when unknown.
long PeakResidentKiB(pid_t pid);

}  // namespace service_test
