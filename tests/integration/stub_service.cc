#include "tests/integration/stub_service.h"

#include <chrono>

#include <httplib.h>

#include <strings.h>

#include <stdexcept>

namespace testing_support {

std::string StubService::Request::Header(const std::string& name) const {
  for (const auto& [k, v] : headers) {
    if (strcasecmp(k.c_str(), name.c_str()) == 0) return v;
  }
  return std::string();
}

StubService::StubService() : server_(std::make_unique<httplib::Server>()) {
  server_->set_tcp_nodelay(true);
  server_->Post("/marlgate_travels/travel.php", [this](const httplib::Request& req,
                                                      httplib::Response& res) {
    Reply reply;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back({req.method, req.path, req.body,
                           {req.headers.begin(), req.headers.end()}});
      auto it = replies_.find(FormField(req.body, "travel_action"));
      if (it != replies_.end()) reply = it->second;
    }
    res.status = reply.status;
    res.set_content(reply.body, reply.content_type.c_str());
  });
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("the stub service could not bind");
  // The socket listens from bind on: connections wait until the thread accepts.
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // Until the thread runs the server, stop() would not reach it, and a
  // service made and destroyed at once would wait for ever in the join.
  for (int i = 0; i < 5000 && !server_->is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

StubService::~StubService() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string StubService::ConnectTo() const {
  return "travel.marlgate.test:80:127.0.0.1:" + std::to_string(port_);
}

void StubService::SetReply(const std::string& action, Reply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[action] = std::move(reply);
}

std::vector<StubService::Request> StubService::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::string FormField(const std::string& body, const std::string& name) {
  std::string key = "&" + name + "=";
  size_t at = body.find(key);
  if (at == std::string::npos) return std::string();
  size_t start = at + key.size();
  size_t end = body.find('&', start);
  return body.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace testing_support
