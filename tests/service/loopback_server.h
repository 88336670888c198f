#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "service/answer/request_handler.h"
#include "service/ops/request_log.h"
#include "service/http/router.h"
#include "service/http/server_options.h"
#include "service/store/store_pool.h"
#include "service/http/travel_server.h"
#include "tests/service/service_test_support.h"

namespace service_test {

// The sample world's database written into `dir`; returns its path.
std::string WriteSampleDatabase(const TempDir& dir);

// A TravelServer on a free loopback port over the sample world, run on a
// thread of its own, with its log in a file.
class LoopbackServer {
 public:
  explicit LoopbackServer(service::ServerOptions options = {}, std::size_t result_limit = 50);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int Port() const { return port_; }
  service::RequestHandler& Handler() { return *handler_; }

  // Stops the server and waits for Run to return; afterwards every log line
  // has been written. Idempotent.
  void Stop();
  std::string LogText() const { return ReadFile(log_file_); }

 private:
  TempDir dir_;
  std::unique_ptr<service::StorePool> stores_;
  std::unique_ptr<service::RequestHandler> handler_;
  service::Router router_;
  std::filesystem::path log_file_;
  int log_fd_ = -1;
  std::unique_ptr<service::RequestLog> log_;
  std::unique_ptr<service::TravelServer> server_;
  std::thread runner_;
  int port_ = 0;
};

}  // namespace service_test
