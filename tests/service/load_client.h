#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace service_test {

// A load client for the operations tests: a few keep-alive connections to
// 127.0.0.1:port, each posting the plug-in's search for `text` as soon as
// the previous reply came and `pause` has passed, until Stop (or
// `max_requests` each). A request fails when
// no reply comes for it within 5 s (the connection refused, reset or closed
// first) or the reply is not a search document with status 200; a reply
// that closes its connection is not a failure: the next request opens
// another. Every reply's result list is recorded, so a test can tell which
// world answered and in what order.
class LoadClient {
 public:
  LoadClient(int port, int connections, std::string text,
             std::chrono::microseconds pause = std::chrono::microseconds(0),
             std::size_t max_requests = 200000);
  ~LoadClient();  // Stop
  LoadClient(const LoadClient&) = delete;
  LoadClient& operator=(const LoadClient&) = delete;

  // Waits for the connections to finish their requests in flight.
  void Stop();

  std::size_t Answered() const { return answered_; }
  std::size_t Failed() const { return failed_; }
  // Replies whose result list was `results`.
  std::size_t AnsweredWith(const std::string& results) const;
  // True when every connection saw the result lists in this order (each
  // list from the first time it came on, none coming back after the next),
  // and across connections too: no request sent after any connection had
  // received a list was answered with an earlier one.
  bool InOrder(const std::vector<std::string>& results) const;
  // The first failures, for a test's message.
  std::string FailureNotes() const;

 private:
  void Run(int port, std::size_t connection);
  void Note(std::size_t connection, const std::string& results, std::uint64_t sent,
            std::uint64_t received);
  void Fail(const std::string& why);

  const std::string text_;
  const std::chrono::microseconds pause_;
  const std::size_t max_requests_;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> answered_{0};
  std::atomic<std::size_t> failed_{0};
  mutable std::mutex mutex_;
  std::map<std::string, std::size_t> counts_;
  std::vector<std::vector<std::string>> sequences_;  // per connection, runs merged
  // On one clock of events shared by the connections, for each list: the
  // last request answered with it was sent, and the first reply with it came.
  struct Timing {
    std::uint64_t last_sent = 0;
    std::uint64_t first_received = UINT64_MAX;
  };
  std::atomic<std::uint64_t> events_{0};
  std::map<std::string, Timing> timing_;
  std::vector<std::string> failure_notes_;
  std::vector<std::thread> threads_;
};

}  // namespace service_test
