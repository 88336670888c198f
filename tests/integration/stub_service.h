#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace testing_support {

// A loopback travel service for tests: answers every POST to the service
// path with the reply set for the request's travel_action, and records what
// it received. Runs on its own thread from construction to destruction.
class StubService {
 public:
  struct Reply {
    int status = 200;
    std::string body;
    std::string content_type = "text/xml; charset=utf-8";
  };
  struct Request {
    std::string method;
    std::string path;
    std::string body;
    std::multimap<std::string, std::string> headers;
    std::string Header(const std::string& name) const;
  };

  StubService();
  ~StubService();
  StubService(const StubService&) = delete;
  StubService& operator=(const StubService&) = delete;

  int port() const { return port_; }
  // The host's --connect-to value that sends the plug-in's service host here.
  std::string ConnectTo() const;

  void SetReply(const std::string& action, Reply reply);
  std::vector<Request> Requests() const;

 private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::map<std::string, Reply> replies_;
  std::vector<Request> requests_;
};

// The value of one field of a form body ("&a=1&b=2"), not decoded.
std::string FormField(const std::string& body, const std::string& name);

}  // namespace testing_support
