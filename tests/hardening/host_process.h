#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace hardening {

// marlgate-host in script mode, fed one command at a time on its standard
// input while it runs, so that a test can look at the process between
// commands (its resident size, the files it wrote). Its events are read on a
// thread of their own, so a host that prints much never waits for us.
class HostProcess {
 public:
  // Starts build/bin/marlgate-host with `--plugin library --script -` and
  // the extra arguments.
  HostProcess(const std::filesystem::path& library, const std::vector<std::string>& extra_args);
  // Ends the host (closing its input) if Finish was not called.
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // Sends one command line (the line feed is added).
  void Send(const std::string& line);
  // Sends `echo <token>` and waits until the host printed it, so that every
  // command sent before has run. Returns the events printed before the
  // echo. Throws std::runtime_error when the host ends first.
  std::vector<nlohmann::json> Sync();

  // The host's resident size now, in KiB (VmRSS).
  long ResidentKib() const;

  struct Outcome {
    int exit_code = -1;          // -1 when it did not exit normally
    int signal = 0;              // the signal that ended it, if one did
    long peak_resident_kib = 0;  // the largest resident size it ever had
    std::vector<nlohmann::json> events;  // printed after the last Sync
    std::string stderr_text;
  };
  // Closes the host's input (ending its script) and waits for it.
  Outcome Finish();

 private:
  void ReadEvents();

  pid_t pid_ = -1;
  int input_fd_ = -1;
  int output_fd_ = -1;
  std::filesystem::path stderr_file_;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<nlohmann::json> events_;
  bool output_ended_ = false;
  int next_token_ = 0;
  bool finished_ = false;
};

}  // namespace hardening
