#include "service/http/travel_server.h"

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

#include "service/http/http_connection.h"

namespace service {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// Connections refused at the cap are answered one by one while they linger;
// beyond this many at once, the next are answered at once (RefuseAtOnce).
constexpr std::size_t kMaxRefusing = 64;
// After accept fails (no descriptors left), the next try waits this long.
constexpr std::chrono::milliseconds kAcceptRetry{100};

// One event loop and the thread that runs it.
struct Loop {
  asio::io_context io{1};
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
};

// One listening address, its connections and their count.
struct Listener {
  explicit Listener(asio::io_context& io) : acceptor(io), retry(io) {}
  tcp::acceptor acceptor;
  asio::steady_timer retry;
  std::size_t max_connections = 0;
  std::atomic<std::size_t> open{0};
  std::atomic<std::size_t> refusing{0};
  IdleConnections idle;
  std::optional<ConnectionContext> context;
};

}  // namespace

// The first loop also accepts, catches the signals and stops; everything of
// the server itself happens there. Connections are handed to the loops in
// turn and stay on theirs. The admin listener's connections run on a loop
// of their own.
class TravelServer::Impl {
 public:
  Impl(const Router& router, RequestLog& log, ServerOptions options, ServiceMetrics* metrics,
       const Router* admin_router)
      : options_(std::move(options)),
        log_(log),
        admin_router_(admin_router),
        loops_(MakeLoops(options_.threads + (admin_router != nullptr ? 1 : 0))),
        client_loops_(std::max<std::size_t>(options_.threads, 1)),
        main_(loops_.front()->io),
        signals_(main_),
        workers_(options_.database_workers, options_.max_queued_requests),
        client_(main_),
        admin_(main_) {
    client_.max_connections = options_.max_connections;
    client_.context.emplace(ConnectionContext{options_, router, log_, metrics, stopping_,
                                              [this](bool served) { Closed(client_, served); },
                                              &workers_, &client_.idle});
    if (admin_router_ != nullptr) {
      admin_.max_connections = options_.admin_max_connections;
      admin_.context.emplace(ConnectionContext{options_, *admin_router_, log_, metrics, stopping_,
                                               [this](bool served) { Closed(admin_, served); },
                                               nullptr, nullptr});
    }
  }

  int Bind() {
    Listen(client_, options_.host, options_.port);
    if (admin_router_ != nullptr && options_.admin_port >= 0) {
      admin_port_ = Listen(admin_, options_.admin_host, options_.admin_port);
    }
    if (options_.stop_on_signals) {
      signals_.add(SIGINT);
      signals_.add(SIGTERM);
    }
    if (options_.on_hangup) signals_.add(SIGHUP);
    if (options_.stop_on_signals || options_.on_hangup) WaitForSignal();
    return client_.acceptor.local_endpoint().port();
  }

  int AdminPort() const { return admin_port_; }

  bool Run() {
    if (!client_.acceptor.is_open()) return false;
    for (auto& loop : loops_) loop->work.emplace(loop->io.get_executor());
    asio::post(main_, [this] {
      Accept(client_);
      if (admin_.acceptor.is_open()) Accept(admin_);
    });
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

  std::size_t OpenConnections() const { return client_.open; }

 private:
  static std::vector<std::unique_ptr<Loop>> MakeLoops(std::size_t count) {
    std::vector<std::unique_ptr<Loop>> loops;
    for (std::size_t i = 0; i < std::max<std::size_t>(count, 1); ++i) {
      loops.push_back(std::make_unique<Loop>());
    }
    return loops;
  }

  int Listen(Listener& listener, const std::string& host, int port) {
    try {
      tcp::resolver resolver(main_);
      const auto endpoints = resolver.resolve(
          host, std::to_string(port), tcp::resolver::passive | tcp::resolver::numeric_service);
      const tcp::endpoint endpoint = endpoints.begin()->endpoint();
      listener.acceptor.open(endpoint.protocol());
      listener.acceptor.set_option(tcp::acceptor::reuse_address(true));
      listener.acceptor.bind(endpoint);
      listener.acceptor.listen(asio::socket_base::max_listen_connections);
      return listener.acceptor.local_endpoint().port();
    } catch (const std::exception& error) {
      throw std::runtime_error("cannot listen on " + host + " port " + std::to_string(port) +
                               ": " + error.what());
    }
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

  // Runs an outside callback; what it throws is logged, never let into the
  // loop.
  template <typename Callback>
  void Guarded(const Callback& callback) {
    try {
      callback();
    } catch (const std::exception& error) {
      log_.Note(std::string("a signal's handler failed: ") + error.what());
    } catch (...) {
      log_.Note("a signal's handler failed");
    }
  }

  void WaitForSignal() {
    signals_.async_wait([this](boost::system::error_code error, int signal_number) {
      if (error) return;
      if (signal_number == SIGHUP) {
        if (!stopping_) {
          log_.Note("reloading on signal " + std::to_string(signal_number));
          Guarded([this] { options_.on_hangup(); });
        }
        WaitForSignal();
        return;
      }
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

  asio::io_context& NextLoop(const Listener& listener) {
    // The admin loop is the last one, and the admin listener's alone.
    if (&listener == &admin_) return loops_.back()->io;
    asio::io_context& io = loops_[next_loop_]->io;
    next_loop_ = (next_loop_ + 1) % client_loops_;
    return io;
  }

  void Accept(Listener& listener) {
    if (stopping_) return;
    listener.acceptor.async_accept(
        NextLoop(listener), [this, &listener](boost::system::error_code error, tcp::socket socket) {
          OnAccept(listener, error, std::move(socket));
        });
  }

  void OnAccept(Listener& listener, boost::system::error_code error, tcp::socket socket) {
    if (!error) {
      Admit(listener, std::move(socket));
      Accept(listener);
      return;
    }
    if (error == asio::error::operation_aborted || stopping_) return;
    // Out of descriptors (which their budget should prevent): try again
    // shortly instead of spinning.
    log_.Note("cannot accept a connection: " + error.message());
    listener.retry.expires_after(kAcceptRetry);
    listener.retry.async_wait([this, &listener](boost::system::error_code wait_error) {
      if (!wait_error) Accept(listener);
    });
  }

  // On the main loop.
  void Admit(Listener& listener, tcp::socket socket) {
    boost::system::error_code ignored;
    // Without it, a keep-alive reply waits for the client's delayed ACK.
    socket.set_option(tcp::no_delay(true), ignored);
    bool served = listener.open < listener.max_connections;
    if (served) {
      ++listener.open;
    } else if (!stopping_) {
      // The connection idle the longest gives its place to the newcomer.
      if (const std::shared_ptr<HttpConnection> oldest = listener.idle.TakeOldest()) {
        oldest->Evict();
        served = true;
      }
    }
    if (!served) {
      if (listener.refusing >= kMaxRefusing) {
        HttpConnection::RefuseAtOnce(socket, options_.max_body_bytes);
        return;
      }
      ++listener.refusing;
    }
    auto connection = std::make_shared<HttpConnection>(std::move(socket), *listener.context, served);
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
  void Closed(Listener& listener, bool served) {
    --(served ? listener.open : listener.refusing);
    if (stopping_) asio::post(main_, [this] { MaybeFinish(); });
  }

  // On the main loop.
  void BeginStop() {
    if (stopping_) return;
    stopping_ = true;
    for (Listener* listener : {&client_, &admin_}) {
      boost::system::error_code error;
      if (listener->acceptor.is_open()) {
        // Connections the system completed already are answered, not reset.
        listener->acceptor.non_blocking(true, error);
        while (!error) {
          tcp::socket socket(NextLoop(*listener));
          listener->acceptor.accept(socket, error);
          if (!error) Admit(*listener, std::move(socket));
        }
        listener->acceptor.close(error);
      }
      listener->retry.cancel();
    }
    MaybeFinish();
  }

  // On the main loop: once stopping and every connection has ended, nothing
  // keeps the loops going.
  void MaybeFinish() {
    if (!stopping_ || finished_) return;
    for (const Listener* listener : {&client_, &admin_}) {
      if (listener->open > 0 || listener->refusing > 0) return;
    }
    finished_ = true;
    boost::system::error_code ignored;
    signals_.cancel(ignored);
    signals_.clear(ignored);
    for (auto& loop : loops_) loop->work.reset();
  }

  const ServerOptions options_;
  RequestLog& log_;
  const Router* admin_router_;
  std::vector<std::unique_ptr<Loop>> loops_;
  const std::size_t client_loops_;
  asio::io_context& main_;
  asio::signal_set signals_;
  std::size_t next_loop_ = 0;
  std::atomic<bool> stopping_{false};
  bool finished_ = false;
  int admin_port_ = -1;
  // Its jobs hold connections, which hold sockets of the loops: destroyed
  // before the loops (and idle by then: Run returns only once every
  // connection has ended).
  DatabaseWorkers workers_;
  Listener client_;
  Listener admin_;
};

std::size_t TravelServer::DescriptorsBesidesClients(const ServerOptions& options) {
  // Each loop: its epoll instance, its wake-up and timer descriptors.
  constexpr std::size_t kPerLoop = 3;
  // Each connection to the database: its file, and a spare for a temporary
  // file SQLite may open.
  constexpr std::size_t kPerDatabaseConnection = 2;
  // Standard input, output and error, the signals' pipe, the dynamic
  // loader's and the C library's own, /proc reads: a margin.
  constexpr std::size_t kProcess = 32;
  const std::size_t loops = std::max<std::size_t>(options.threads, 1) + 1;
  const std::size_t listeners = 2;
  // While a new world is loaded beside the one served, both are open.
  const std::size_t databases = 2 * (std::max<std::size_t>(options.database_workers, 1) + 1);
  return kProcess + loops * kPerLoop + listeners + databases * kPerDatabaseConnection +
         2 * kMaxRefusing + options.admin_max_connections;
}

TravelServer::TravelServer(const Router& router, RequestLog& log, ServerOptions options,
                           ServiceMetrics* metrics, const Router* admin_router)
    : impl_(std::make_unique<Impl>(router, log, std::move(options), metrics, admin_router)) {}

TravelServer::~TravelServer() = default;

int TravelServer::Bind() { return impl_->Bind(); }

bool TravelServer::Run() { return impl_->Run(); }

void TravelServer::Stop() { impl_->Stop(); }

std::size_t TravelServer::OpenConnections() const { return impl_->OpenConnections(); }

int TravelServer::AdminPort() const { return impl_->AdminPort(); }

}  // namespace service
