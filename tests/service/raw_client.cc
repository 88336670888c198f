#include "tests/service/raw_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace service_test {

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

}  // namespace

std::string RawResponse::Header(std::string_view name) const {
  const std::string wanted = Lower(name) + ":";
  std::size_t pos = head.find("\r\n");
  while (pos != std::string::npos && pos + 2 < head.size()) {
    const std::size_t start = pos + 2;
    const std::size_t end = head.find("\r\n", start);
    const std::string line = head.substr(start, end == std::string::npos ? end : end - start);
    if (Lower(line).rfind(wanted, 0) == 0) {
      std::string value = line.substr(wanted.size());
      value.erase(0, value.find_first_not_of(' '));
      return value;
    }
    pos = end;
  }
  return {};
}

bool RawResponse::Closes() const { return Lower(Header("Connection")) == "close"; }

RawClient::RawClient(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  const int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

RawClient::~RawClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawClient::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

void RawClient::ShutdownWrite() { ::shutdown(fd_, SHUT_WR); }

bool RawClient::ReadMore(std::chrono::steady_clock::time_point deadline) {
  if (ended_ || fd_ < 0) return false;
  pollfd poll_fd{fd_, POLLIN, 0};
  const int ready = ::poll(&poll_fd, 1, MillisecondsUntil(deadline));
  if (ready <= 0) return false;
  char buffer[16384];
  const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
  if (got <= 0) {
    ended_ = true;
    return false;
  }
  pending_.append(buffer, static_cast<std::size_t>(got));
  return true;
}

std::optional<RawResponse> RawClient::ReadResponse(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::size_t head_end = std::string::npos;
  while ((head_end = pending_.find("\r\n\r\n")) == std::string::npos) {
    if (!ReadMore(deadline)) return std::nullopt;
  }
  RawResponse response;
  response.head = pending_.substr(0, head_end);
  const std::size_t space = response.head.find(' ');
  if (space != std::string::npos) response.status = std::atoi(response.head.c_str() + space + 1);
  const std::string length_text = response.Header("Content-Length");
  const std::size_t length = length_text.empty() ? 0 : std::strtoul(length_text.c_str(), nullptr, 10);
  while (pending_.size() < head_end + 4 + length) {
    if (!ReadMore(deadline)) return std::nullopt;
  }
  response.body = pending_.substr(head_end + 4, length);
  pending_.erase(0, head_end + 4 + length);
  return response;
}

bool RawClient::ClosedWithin(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!ended_) {
    if (!ReadMore(deadline) && !ended_) return false;
  }
  return true;
}

std::string PluginRequest(std::string_view body, std::string_view extra_headers) {
  std::string request = "POST /marlgate_travels/travel.php HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  request += "Content-Type: application/x-www-form-urlencoded\r\n";
  request += extra_headers;
  request += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  request += body;
  return request;
}

}  // namespace service_test
