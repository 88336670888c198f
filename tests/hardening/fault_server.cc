#include "tests/hardening/fault_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace hardening {

namespace {

constexpr std::chrono::milliseconds kPollSlice(50);

}  // namespace

bool FaultServer::Connection::WaitFor(short events) {
  pollfd fds[2] = {{fd_, static_cast<short>(events | POLLRDHUP), 0}, {wake_fd_, POLLIN, 0}};
  for (;;) {
    if (stopping_.load()) return false;
    int n = ::poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || fds[1].revents != 0) return false;
    // Ready wins over a hang-up: a peer that closed its end still lets the
    // data it sent be read (the read then ends at its end of file).
    if ((fds[0].revents & events) != 0) return true;
    if ((fds[0].revents & (POLLERR | POLLNVAL | POLLHUP | POLLRDHUP)) != 0) return false;
  }
}

bool FaultServer::Connection::ReadRequest() {
  request_.clear();
  size_t head_end = std::string::npos;
  size_t wanted = std::string::npos;
  char buffer[8192];
  while (wanted == std::string::npos || request_.size() < wanted) {
    if (!WaitFor(POLLIN)) return false;
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    request_.append(buffer, static_cast<size_t>(n));
    if (head_end == std::string::npos) {
      head_end = request_.find("\r\n\r\n");
      if (head_end == std::string::npos) continue;
      size_t length = 0;
      // Header names are matched in any case, as HTTP says.
      std::string lower = request_.substr(0, head_end);
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      size_t at = lower.find("\r\ncontent-length:");
      if (at != std::string::npos) length = std::strtoul(lower.c_str() + at + 17, nullptr, 10);
      wanted = head_end + 4 + length;
    }
  }
  return true;
}

bool FaultServer::Connection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    if (!WaitFor(POLLOUT)) return false;
    ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool FaultServer::Connection::Trickle(std::string_view bytes, std::chrono::milliseconds gap) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && !Pause(gap)) return false;
    if (!Send(bytes.substr(i, 1))) return false;
  }
  return true;
}

bool FaultServer::Connection::Pause(std::chrono::milliseconds span) {
  const auto deadline = std::chrono::steady_clock::now() + span;
  for (;;) {
    if (stopping_.load()) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds::zero()) return true;
    pollfd wake{wake_fd_, POLLIN, 0};
    ::poll(&wake, 1, static_cast<int>(std::min(left, kPollSlice).count()));
  }
}

void FaultServer::Connection::HoldOpen() {
  // Only the peer's hang-up is asked for: unread data must not wake us.
  pollfd fds[2] = {{fd_, POLLRDHUP, 0}, {wake_fd_, POLLIN, 0}};
  while (!stopping_.load()) {
    int n = ::poll(fds, 2, static_cast<int>(kPollSlice.count()));
    if (n < 0 && errno != EINTR) return;
    if (n > 0 && fds[0].revents != 0) return;
  }
}

void FaultServer::Connection::Reset() {
  linger hard{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

FaultServer::FaultServer(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (listen_fd_ < 0 || wake_fd_ < 0) throw std::runtime_error("FaultServer: no socket");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 16) != 0 ||
      ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error("FaultServer: cannot listen on loopback");
  }
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

FaultServer::~FaultServer() {
  stopping_.store(true);
  uint64_t one = 1;
  (void)!::write(wake_fd_, &one, sizeof one);
  if (thread_.joinable()) thread_.join();
  ::close(listen_fd_);
  ::close(wake_fd_);
}

std::string FaultServer::ConnectTo() const {
  return "travel.marlgate.test:80:127.0.0.1:" + std::to_string(port_);
}

void FaultServer::Serve() {
  pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
  while (!stopping_.load()) {
    int n = ::poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || fds[1].revents != 0) return;
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) continue;
    connections_.fetch_add(1);
    Connection connection(fd, wake_fd_, stopping_);
    try {
      behaviour_(connection);
    } catch (...) {
      // A behaviour's own fault ends its connection only.
    }
    ::close(fd);
  }
}

std::string HttpReply(int status, std::string_view reason, std::string_view body,
                      std::string_view extra_headers) {
  std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
  reply += "Content-Type: text/xml; charset=utf-8\r\n";
  reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  reply += "Connection: close\r\n";
  reply += extra_headers;
  reply += "\r\n";
  reply += body;
  return reply;
}

}  // namespace hardening
