#include "tests/service/load_client.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>

#include "tests/service/raw_client.h"
#include "tests/service/service_test_support.h"

namespace service_test {

namespace {

constexpr std::size_t kKeptNotes = 5;

}  // namespace

LoadClient::LoadClient(int port, int connections, std::string text,
                       std::chrono::microseconds pause, std::size_t max_requests)
    : text_(std::move(text)), pause_(pause), max_requests_(max_requests), sequences_(connections) {
  for (int c = 0; c < connections; ++c) {
    threads_.emplace_back([this, port, c] { Run(port, static_cast<std::size_t>(c)); });
  }
}

LoadClient::~LoadClient() { Stop(); }

void LoadClient::Stop() {
  stopping_ = true;
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

void LoadClient::Run(int port, std::size_t connection) {
  const std::string request =
      PluginRequest("&travel_action=search&Value=" + text_ + "&currentcharacter=Ann&random= .5");
  std::unique_ptr<RawClient> client;
  for (std::size_t i = 0; i < max_requests_ && !stopping_; ++i) {
    if (!client) {
      client = std::make_unique<RawClient>(port);
      if (!client->Connected()) {
        client.reset();
        Fail("cannot connect");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
    }
    const std::uint64_t sent = ++events_;
    if (!client->Send(request)) {
      client.reset();
      Fail("the connection was closed before the request");
      continue;
    }
    const std::optional<RawResponse> reply = client->ReadResponse(std::chrono::seconds(5));
    const std::uint64_t received = ++events_;
    if (!reply) {
      client.reset();
      Fail("no reply");
      continue;
    }
    const ParsedReply parsed = ParseReply(reply->body);
    if (reply->status != 200 || parsed.tag != "search") {
      Fail("status " + std::to_string(reply->status) + ": " + reply->body.substr(0, 200));
    } else {
      ++answered_;
      Note(connection, parsed.Attribute("results"), sent, received);
    }
    if (reply->Closes()) client.reset();
    if (pause_.count() > 0) std::this_thread::sleep_for(pause_);
  }
}

void LoadClient::Note(std::size_t connection, const std::string& results, std::uint64_t sent,
                      std::uint64_t received) {
  const std::lock_guard lock(mutex_);
  ++counts_[results];
  Timing& timing = timing_[results];
  timing.last_sent = std::max(timing.last_sent, sent);
  timing.first_received = std::min(timing.first_received, received);
  std::vector<std::string>& sequence = sequences_[connection];
  if (sequence.empty() || sequence.back() != results) sequence.push_back(results);
}

void LoadClient::Fail(const std::string& why) {
  ++failed_;
  const std::lock_guard lock(mutex_);
  if (failure_notes_.size() < kKeptNotes) failure_notes_.push_back(why);
}

std::size_t LoadClient::AnsweredWith(const std::string& results) const {
  const std::lock_guard lock(mutex_);
  const auto found = counts_.find(results);
  return found == counts_.end() ? 0 : found->second;
}

bool LoadClient::InOrder(const std::vector<std::string>& results) const {
  const std::lock_guard lock(mutex_);
  for (const std::vector<std::string>& sequence : sequences_) {
    // Each connection's runs, in order, must be a part of `results` in order.
    auto at = results.begin();
    for (const std::string& seen : sequence) {
      at = std::find(at, results.end(), seen);
      if (at == results.end()) return false;
    }
  }
  for (std::size_t earlier = 0; earlier < results.size(); ++earlier) {
    const auto old = timing_.find(results[earlier]);
    if (old == timing_.end()) continue;
    for (std::size_t later = earlier + 1; later < results.size(); ++later) {
      const auto young = timing_.find(results[later]);
      if (young != timing_.end() && old->second.last_sent > young->second.first_received) {
        return false;
      }
    }
  }
  return true;
}

std::string LoadClient::FailureNotes() const {
  const std::lock_guard lock(mutex_);
  std::string notes;
  for (const std::string& note : failure_notes_) notes += note + "\n";
  return notes;
}

}  // namespace service_test
