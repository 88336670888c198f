#include "service/travel_server.h"

#include <signal.h>

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>

#include <atomic>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "service/http_connection.h"
#include "service/router.h"

namespace service {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// Connections refused at the cap are answered one by one while they linger;
// beyond this many at once, the next are closed unanswered.
constexpr std::size_t kMaxRefusing = 64;
// After accept fails (no descriptors left), the next try waits this long.
constexpr std::chrono::milliseconds kAcceptRetry{100};

}  // namespace

class TravelServer::Impl {
 public:
  Impl(const RequestHandler& handler, RequestLog& log, ServerOptions options)
      : options_(std::move(options)),
        log_(log),
        io_(static_cast<int>(std::max<std::size_t>(options_.io_threads, 1))),
        strand_(asio::make_strand(io_)),
        acceptor_(strand_),
        signals_(strand_),
        accept_retry_(strand_),
        workers_(std::max<std::size_t>(options_.threads, 1)),
        context_{options_, router_, log_, workers_, stopping_,
                 [this](bool served) { Closed(served); }} {
    router_.Add(Route{"POST", kTravelPath, "text/xml; charset=utf-8", true,
                      [&handler](std::string_view body) { return handler.Handle(body); }});
  }

  ~Impl() {
    workers_.stop();
    workers_.join();
  }

  int Bind() {
    try {
      tcp::resolver resolver(io_);
      const auto endpoints = resolver.resolve(options_.host, std::to_string(options_.port),
                                              tcp::resolver::passive | tcp::resolver::numeric_service);
      const tcp::endpoint endpoint = endpoints.begin()->endpoint();
      acceptor_.open(endpoint.protocol());
      acceptor_.set_option(tcp::acceptor::reuse_address(true));
      acceptor_.bind(endpoint);
      acceptor_.listen(asio::socket_base::max_listen_connections);
      if (options_.stop_on_signals) {
        signals_.add(SIGINT);
        signals_.add(SIGTERM);
        WaitForSignal();
      }
      return acceptor_.local_endpoint().port();
    } catch (const std::exception& error) {
      throw std::runtime_error("cannot listen on " + options_.host + " port " +
                               std::to_string(options_.port) + ": " + error.what());
    }
  }

  bool Run() {
    if (!acceptor_.is_open() && !stopping_) return false;
    work_.emplace(io_.get_executor());
    asio::post(strand_, [this] { Accept(); });
    std::vector<std::thread> more;
    for (std::size_t i = 1; i < options_.io_threads; ++i) more.emplace_back([this] { RunIo(); });
    RunIo();
    for (std::thread& thread : more) thread.join();
    workers_.join();
    return true;
  }

  void Stop() {
    asio::post(strand_, [this] { BeginStop(); });
  }

 private:
  // No exception leaves a handler into the loop: one that would is logged and
  // the loop goes on (the connection it came from ends).
  void RunIo() {
    while (true) {
      try {
        io_.run();
        return;
      } catch (const std::exception& error) {
        log_.Note(std::string("a connection failed: ") + error.what());
      } catch (...) {
        log_.Note("a connection failed");
      }
    }
  }

  void WaitForSignal() {
    signals_.async_wait([this](boost::system::error_code error, int signal_number) {
      if (error) return;
      if (!stopping_) {
        log_.Note("stopping on signal " + std::to_string(signal_number));
        // Listen for a second one first: stopping may be done at once.
        WaitForSignal();
        BeginStop();
        return;
      }
      // A second signal ends the process at once: its default action.
      boost::system::error_code ignored;
      signals_.clear(ignored);
      ::signal(signal_number, SIG_DFL);
      ::raise(signal_number);
    });
  }

  void Accept() {
    if (stopping_) return;
    acceptor_.async_accept(asio::make_strand(io_),
                           [this](boost::system::error_code error, tcp::socket socket) {
                             OnAccept(error, std::move(socket));
                           });
  }

  void OnAccept(boost::system::error_code error, tcp::socket socket) {
    if (!error) {
      Admit(std::move(socket));
      Accept();
      return;
    }
    if (error == asio::error::operation_aborted || stopping_) return;
    // Out of descriptors, most likely: try again shortly instead of spinning.
    log_.Note("cannot accept a connection: " + error.message());
    accept_retry_.expires_after(kAcceptRetry);
    accept_retry_.async_wait([this](boost::system::error_code wait_error) {
      if (!wait_error) Accept();
    });
  }

  // On the strand.
  void Admit(tcp::socket socket) {
    boost::system::error_code ignored;
    // Without it, a keep-alive reply waits for the client's delayed ACK.
    socket.set_option(tcp::no_delay(true), ignored);
    const bool served = open_ < options_.max_connections;
    if (!served && refusing_ >= kMaxRefusing) return;  // closed unanswered
    ++(served ? open_ : refusing_);
    auto connection = std::make_shared<HttpConnection>(std::move(socket), context_, served);
    // The connection's first step runs on its own strand.
    asio::post(connection->Executor(), [connection, served] {
      if (served) {
        connection->Serve();
      } else {
        connection->RefuseBusy();
      }
    });
  }

  // Any thread (a connection's destructor).
  void Closed(bool served) {
    --(served ? open_ : refusing_);
    if (stopping_) asio::post(strand_, [this] { MaybeFinish(); });
  }

  // On the strand.
  void BeginStop() {
    if (stopping_) return;
    stopping_ = true;
    boost::system::error_code error;
    if (acceptor_.is_open()) {
      // Connections the system completed already are answered, not reset.
      acceptor_.non_blocking(true, error);
      while (!error) {
        tcp::socket socket(asio::make_strand(io_));
        acceptor_.accept(socket, error);
        if (!error) Admit(std::move(socket));
      }
      acceptor_.close(error);
    }
    accept_retry_.cancel();
    MaybeFinish();
  }

  // On the strand: once stopping and every connection has ended, nothing
  // keeps Run going.
  void MaybeFinish() {
    if (!stopping_ || finished_ || open_ > 0 || refusing_ > 0) return;
    finished_ = true;
    boost::system::error_code ignored;
    signals_.cancel(ignored);
    signals_.clear(ignored);
    work_.reset();
  }

  const ServerOptions options_;
  RequestLog& log_;
  asio::io_context io_;
  asio::strand<asio::io_context::executor_type> strand_;
  tcp::acceptor acceptor_;
  asio::signal_set signals_;
  asio::steady_timer accept_retry_;
  asio::thread_pool workers_;
  Router router_;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> open_{0};
  std::atomic<std::size_t> refusing_{0};
  bool finished_ = false;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
  ConnectionContext context_;
};

TravelServer::TravelServer(const RequestHandler& handler, RequestLog& log, ServerOptions options)
    : impl_(std::make_unique<Impl>(handler, log, std::move(options))) {}

TravelServer::~TravelServer() = default;

int TravelServer::Bind() { return impl_->Bind(); }

bool TravelServer::Run() { return impl_->Run(); }

void TravelServer::Stop() { impl_->Stop(); }

}  // namespace service
