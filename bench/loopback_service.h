#pragma once

#include <httplib.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace bench {

// The loopback travel service of the benchmarks: one reply for every POST
// to the service path, with TCP_NODELAY (without it, kept-alive replies wait
// for the peer's delayed ACK). Runs on a thread of its own.
class LoopbackService {
 public:
  explicit LoopbackService(std::string reply) : reply_(std::move(reply)) {
    server_.set_tcp_nodelay(true);
    server_.Post("/marlgate_travels/travel.php", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(reply_, "text/xml; charset=utf-8");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot listen on loopback");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~LoopbackService() {
    server_.stop();
    thread_.join();
  }
  std::string ConnectTo() const { return "travel.marlgate.test:80:127.0.0.1:" + std::to_string(port_); }

 private:
  std::string reply_;
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace bench
