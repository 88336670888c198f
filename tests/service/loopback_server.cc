#include "tests/service/loopback_server.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

#include "service/world/route_planner.h"
#include "service/http/service_routes.h"
#include "service/store/store_writer.h"

namespace service_test {

std::string WriteSampleDatabase(const TempDir& dir) {
  const service::World world = SampleWorld();
  const std::string path = (dir.Path() / "world.db").string();
  service::WriteWorldDatabase(world, service::ComputeNearestTownRoutes(world), path);
  return path;
}

LoopbackServer::LoopbackServer(service::ServerOptions options, std::size_t result_limit) {
  std::signal(SIGPIPE, SIG_IGN);
  stores_ = std::make_unique<service::StorePool>(WriteSampleDatabase(dir_), options.threads);
  handler_ = std::make_unique<service::RequestHandler>(*stores_, result_limit);
  log_file_ = dir_.Path() / "requests.log";
  log_fd_ = ::open(log_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  log_ = std::make_unique<service::RequestLog>(log_fd_);
  router_.Add(service::TravelRoute(*handler_));
  server_ = std::make_unique<service::TravelServer>(router_, *log_, options);
  port_ = server_->Bind();
  runner_ = std::thread([this] { server_->Run(); });
}

LoopbackServer::~LoopbackServer() {
  Stop();
  if (log_fd_ >= 0) ::close(log_fd_);
}

void LoopbackServer::Stop() {
  if (!runner_.joinable()) return;
  server_->Stop();
  runner_.join();
  log_->Close(std::chrono::seconds(5));
}

}  // namespace service_test
