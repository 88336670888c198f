#include "service/travel_server.h"

#include <signal.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
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

// One event loop and the thread that runs it.
struct Loop {
  asio::io_context io{1};
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
};

}  // namespace

// The first loop also accepts, catches the signals and stops; everything of
// the server itself happens there. Connections are handed to the loops in
// turn and stay on theirs.
class TravelServer::Impl {
 public:
  Impl(const RequestHandler& handler, RequestLog& log, ServerOptions options)
      : options_(std::move(options)),
        log_(log),
        loops_(MakeLoops(options_.threads)),
        main_(loops_.front()->io),
        acceptor_(main_),
        signals_(main_),
        accept_retry_(main_),
        context_{options_, router_, log_, stopping_, [this](bool served) { Closed(served); }} {
    router_.Add(Route{"POST", kTravelPath, "text/xml; charset=utf-8",
                      [&handler](std::string_view body) { return handler.Handle(body); }});
  }

  int Bind() {
    try {
      tcp::resolver resolver(main_);
      const auto endpoints =
          resolver.resolve(options_.host, std::to_string(options_.port),
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
    if (!acceptor_.is_open()) return false;
    for (auto& loop : loops_) loop->work.emplace(loop->io.get_executor());
    asio::post(main_, [this] { Accept(); });
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < loops_.size(); ++i) {
      threads.emplace_back([this, i] { RunLoop(loops_[i]->io); });
    }
    RunLoop(main_);
    for (std::thread& thread : threads) thread.join();
    return true;
  }

  void Stop() {
    asio::post(main_, [this] { BeginStop(); });
  }

 private:
  static std::vector<std::unique_ptr<Loop>> MakeLoops(std::size_t count) {
    std::vector<std::unique_ptr<Loop>> loops;
    for (std::size_t i = 0; i < std::max<std::size_t>(count, 1); ++i) {
      loops.push_back(std::make_unique<Loop>());
    }
    return loops;
  }

  // No exception leaves a handler into the loop: one that would is logged and
  // the loop goes on (the connection it came from ends).
  void RunLoop(asio::io_context& io) {
    while (true) {
      try {
        io.run();
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

  asio::io_context& NextLoop() {
    asio::io_context& io = loops_[next_loop_]->io;
    next_loop_ = (next_loop_ + 1) % loops_.size();
    return io;
  }

  void Accept() {
    if (stopping_) return;
    acceptor_.async_accept(NextLoop(), [this](boost::system::error_code error, tcp::socket socket) {
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

  // On the main loop.
  void Admit(tcp::socket socket) {
    boost::system::error_code ignored;
    // Without it, a keep-alive reply waits for the client's delayed ACK.
    socket.set_option(tcp::no_delay(true), ignored);
    const bool served = open_ < options_.max_connections;
    if (!served && refusing_ >= kMaxRefusing) return;  // closed unanswered
    ++(served ? open_ : refusing_);
    auto connection = std::make_shared<HttpConnection>(std::move(socket), context_, served);
    // The connection's first step runs on its own loop.
    asio::post(connection->Executor(), [connection, served] {
      if (served) {
        connection->Serve();
      } else {
        connection->RefuseBusy();
      }
    });
  }

  // Any loop (a connection's destructor).
  void Closed(bool served) {
    --(served ? open_ : refusing_);
    if (stopping_) asio::post(main_, [this] { MaybeFinish(); });
  }

  // On the main loop.
  void BeginStop() {
    if (stopping_) return;
    stopping_ = true;
    boost::system::error_code error;
    if (acceptor_.is_open()) {
      // Connections the system completed already are answered, not reset.
      acceptor_.non_blocking(true, error);
      while (!error) {
        tcp::socket socket(NextLoop());
        acceptor_.accept(socket, error);
        if (!error) Admit(std::move(socket));
      }
      acceptor_.close(error);
    }
    accept_retry_.cancel();
    MaybeFinish();
  }

  // On the main loop: once stopping and every connection has ended, nothing
  // keeps the loops going.
  void MaybeFinish() {
    if (!stopping_ || finished_ || open_ > 0 || refusing_ > 0) return;
    finished_ = true;
    boost::system::error_code ignored;
    signals_.cancel(ignored);
    signals_.clear(ignored);
    for (auto& loop : loops_) loop->work.reset();
  }

  const ServerOptions options_;
  RequestLog& log_;
  std::vector<std::unique_ptr<Loop>> loops_;
  asio::io_context& main_;
  tcp::acceptor acceptor_;
  asio::signal_set signals_;
  asio::steady_timer accept_retry_;
  std::size_t next_loop_ = 0;
  Router router_;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> open_{0};
  std::atomic<std::size_t> refusing_{0};
  bool finished_ = false;
  ConnectionContext context_;
};

TravelServer::TravelServer(const RequestHandler& handler, RequestLog& log, ServerOptions options)
    : impl_(std::make_unique<Impl>(handler, log, std::move(options))) {}

TravelServer::~TravelServer() = default;

int TravelServer::Bind() { return impl_->Bind(); }

bool TravelServer::Run() { return impl_->Run(); }

void TravelServer::Stop() { impl_->Stop(); }

}  // namespace service
