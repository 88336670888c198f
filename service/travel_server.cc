#include "service/travel_server.h"

#include <httplib.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "service/reply_writer.h"

namespace service {

namespace {

constexpr char kReplyType[] = "text/xml; charset=utf-8";

// What the log line of the request in progress on this worker needs. A
// request is handled from routing to logging on one worker thread, so the
// record is per thread; it is cleared after each line, so a request that
// fails before routing is logged without the previous request's data.
struct RequestRecord {
  std::optional<std::chrono::steady_clock::time_point> start;
  std::string action;
  std::string value;
  std::string kind;
};

thread_local RequestRecord current_request;

std::string ErrorReplyForStatus(int status, std::size_t max_body_bytes) {
  std::string reason;
  switch (status) {
    case 404:
      reason = std::string("Nothing is served here; the plug-in posts to ") + kTravelPath + ".";
      break;
    case 413:
      reason = "The request is larger than " + std::to_string(max_body_bytes) +
               " bytes; search with fewer words.";
      break;
    case 500:
      reason = "The travel service failed; try again later.";
      break;
    default:
      reason = "The request could not be read (HTTP status " + std::to_string(status) +
               "). Update the plug-in.";
  }
  return ReplyWriter("error").Attribute("reason", reason).Finish();
}

}  // namespace

TravelServer::TravelServer(const RequestHandler& handler, RequestLog& log, ServerOptions options)
    : handler_(handler),
      log_(log),
      options_(std::move(options)),
      server_(std::make_unique<httplib::Server>()) {
  Configure();
}

TravelServer::~TravelServer() = default;

void TravelServer::Configure() {
  httplib::Server& server = *server_;
  const std::size_t threads = options_.threads == 0 ? 1 : options_.threads;
  server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  // Without it, a keep-alive reply waits for the client's delayed ACK.
  server.set_tcp_nodelay(true);
  server.set_read_timeout(options_.read_timeout.count(), 0);
  server.set_write_timeout(options_.write_timeout.count(), 0);
  server.set_keep_alive_timeout(options_.keep_alive_timeout.count());
  server.set_keep_alive_max_count(options_.keep_alive_max_requests);
  server.set_payload_max_length(options_.max_body_bytes);

  server.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
    current_request = RequestRecord{};
    current_request.start = std::chrono::steady_clock::now();
    return httplib::Server::HandlerResponse::Unhandled;
  });

  server.Post(kTravelPath, [this](const httplib::Request& request, httplib::Response& response) {
    HandledRequest handled = handler_.Handle(request.body);
    current_request.action = std::move(handled.action);
    current_request.value = std::move(handled.value);
    current_request.kind = std::move(handled.kind);
    response.status = handled.status;
    response.set_content(std::move(handled.reply), kReplyType);
  });

  // Refusals made by the HTTP layer itself (unknown path, body too large,
  // unreadable request) still get a reply document the plug-in can show.
  const std::size_t max_body_bytes = options_.max_body_bytes;
  server.set_error_handler(httplib::Server::HandlerWithResponse(
      [max_body_bytes](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        current_request.kind = "error";
        response.set_content(ErrorReplyForStatus(response.status, max_body_bytes), kReplyType);
        return httplib::Server::HandlerResponse::Handled;
      }));

  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        response.status = 500;
        response.body.clear();
      });

  server.set_logger([this](const httplib::Request&, const httplib::Response& response) {
    std::optional<std::chrono::nanoseconds> taken;
    if (current_request.start) taken = std::chrono::steady_clock::now() - *current_request.start;
    log_.Write(current_request.action, current_request.value, response.status,
               current_request.kind, taken);
    current_request = RequestRecord{};
  });
}

int TravelServer::Bind() {
  if (options_.port == 0) {
    const int port = server_->bind_to_any_port(options_.host);
    if (port > 0) return port;
  } else if (server_->bind_to_port(options_.host, options_.port)) {
    return options_.port;
  }
  throw std::runtime_error("cannot listen on " + options_.host + " port " +
                           std::to_string(options_.port));
}

bool TravelServer::Run() { return server_->listen_after_bind(); }

void TravelServer::Stop() { server_->stop(); }

}  // namespace service
