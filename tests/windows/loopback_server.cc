#include "tests/windows/loopback_server.h"

#include <ws2tcpip.h>

#include <cstring>
#include <stdexcept>

namespace windows_tests {

namespace {

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::_strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

bool ReceiveSome(SOCKET s, std::string& data) {
  char buffer[4096];
  const int n = ::recv(s, buffer, sizeof buffer, 0);
  if (n <= 0) return false;
  data.append(buffer, static_cast<size_t>(n));
  return true;
}

void SendAll(SOCKET s, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const int n = ::send(s, data.data() + done, static_cast<int>(data.size() - done), 0);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

std::string LoopbackServer::Request::Header(const std::string& name) const {
  for (const auto& [k, v] : headers) {
    if (EqualsNoCase(k, name)) return v;
  }
  return std::string();
}

size_t LoopbackServer::Request::Count(const std::string& name) const {
  size_t count = 0;
  for (const auto& header : headers) count += EqualsNoCase(header.first, name) ? 1 : 0;
  return count;
}

LoopbackServer::LoopbackServer() {
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
  listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int length = sizeof address;
  if (listener_ == INVALID_SOCKET ||
      ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("the loopback server could not listen");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

LoopbackServer::~LoopbackServer() {
  stopping_ = true;
  ::closesocket(listener_);  // ends the accept
  thread_.join();
  for (std::thread& connection : connections_) connection.join();
  for (SOCKET s : silent_clients_) ::closesocket(s);
  ::WSACleanup();
}

std::string LoopbackServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::SetReply(const std::string& path, Reply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[path] = std::move(reply);
}

std::vector<LoopbackServer::Request> LoopbackServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void LoopbackServer::Serve() {
  while (!stopping_) {
    SOCKET client = ::accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) return;
    connections_.emplace_back([this, client] { Handle(client); });
  }
}

// One request per connection ("Connection: close"), read whole: headers up
// to the blank line, then Content-Length bytes of body.
void LoopbackServer::Handle(SOCKET client) {
  std::string data;
  size_t header_end = std::string::npos;
  while ((header_end = data.find("\r\n\r\n")) == std::string::npos) {
    if (!ReceiveSome(client, data)) {
      ::closesocket(client);
      return;
    }
  }
  Request request;
  size_t line_end = data.find("\r\n");
  request.request_line = data.substr(0, line_end);
  size_t pos = line_end + 2;
  while (pos < header_end) {
    size_t end = data.find("\r\n", pos);
    std::string line = data.substr(pos, end - pos);
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.erase(0, 1);
      request.headers.emplace_back(line.substr(0, colon), value);
    }
    pos = end + 2;
  }
  const size_t length = static_cast<size_t>(std::atoi(request.Header("Content-Length").c_str()));
  std::string body = data.substr(header_end + 4);
  while (body.size() < length && ReceiveSome(client, body)) {
  }
  request.body = body.substr(0, length);

  const size_t path_start = request.request_line.find(' ') + 1;
  const std::string path =
      request.request_line.substr(path_start, request.request_line.find(' ', path_start) - path_start);
  Reply reply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    auto it = replies_.find(path);
    if (it != replies_.end()) reply = it->second;
    if (reply.silent) {
      silent_clients_.push_back(client);
      return;
    }
  }
  if (reply.delay_ms > 0) ::Sleep(static_cast<DWORD>(reply.delay_ms));
  std::string response = "HTTP/1.1 " + std::to_string(reply.status) + " " + reply.reason + "\r\n";
  response += "Content-Type: " + reply.content_type + "\r\n";
  response += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  response += "Connection: close\r\n\r\n";
  response += reply.body;
  SendAll(client, response);
  // The whole request has been read, so closing sends FIN, not RST.
  ::shutdown(client, SD_SEND);
  ::closesocket(client);
}

}  // namespace windows_tests
