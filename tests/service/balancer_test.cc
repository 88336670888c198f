// The shipped nginx configuration (deploy/nginx/marlgate-travels.conf) in
// front of two copies of the travel service, each with its own database
// file, all on loopback ports: one copy is killed under load and started
// again. nginx runs as this test's own process, with its own prefix,
// configuration, logs and temporary folders (its ports are the only change
// made to the shipped file).

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/service/load_client.h"
#include "tests/service/raw_client.h"
#include "tests/service/service_process.h"
#include "tests/service/service_test_support.h"

namespace {

using namespace std::chrono_literals;
using service_test::Child;
using service_test::Occurrences;
using service_test::ReadFile;
using service_test::TempDir;
using service_test::WaitFor;

// nginx from MARLGATE_NGINX, /usr/sbin (Debian's) or the PATH; "" if none.
std::string FindNginx() {
  if (const char* given = std::getenv("MARLGATE_NGINX")) return given;
  std::vector<std::string> places = {"/usr/sbin/nginx"};
  if (const char* path = std::getenv("PATH")) {
    std::string folders = path;
    for (std::size_t start = 0; start <= folders.size();) {
      const std::size_t end = std::min(folders.find(':', start), folders.size());
      places.push_back(folders.substr(start, end - start) + "/nginx");
      start = end + 1;
    }
  }
  for (const std::string& place : places) {
    if (::access(place.c_str(), X_OK) == 0) return place;
  }
  return "";
}

// A loopback port nobody listens on just now.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from << " is not in the shipped configuration";
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// A child process that is ended (SIGKILL) when the test leaves early.
class Process {
 public:
  Process() = default;
  explicit Process(Child child) : child_(child) {}
  ~Process() { End(SIGKILL); }
  Process& operator=(Process&& other) noexcept {
    End(SIGKILL);
    child_ = other.child_;
    other.child_ = {};
    return *this;
  }

  const Child& Get() const { return child_; }
  // Sends `signal` and waits (10 s at most); the exit code as Wait gives it.
  int End(int signal) {
    if (child_.pid <= 0) return -1;
    ::kill(child_.pid, signal);
    const int code = service_test::Wait(child_, 10s);
    child_ = {};
    return code;
  }

 private:
  Child child_;
};

class BalancerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);
    nginx_ = FindNginx();
    ASSERT_FALSE(nginx_.empty()) << "nginx is not installed: scripts/deps.sh test installs it";
    const std::string db = (dir_.Path() / "world.db").string();
    ASSERT_EQ(service_test::Wait(service_test::StartService(
                  {"import", "--db", db, MARLGATE_DEMO_WORLD}, dir_.Path() / "import.log")),
              0);
    for (std::size_t i = 0; i < 2; ++i) {
      // The copy step: the same file for each copy.
      std::filesystem::copy_file(db, CopyDb(i));
      ports_[i] = FreePort();
    }
    front_port_ = FreePort();
  }

  std::filesystem::path CopyDb(std::size_t i) const {
    return dir_.Path() / ("copy-" + std::to_string(i) + ".db");
  }
  std::filesystem::path CopyLog(std::size_t i) const {
    return dir_.Path() / ("copy-" + std::to_string(i) + ".log");
  }

  // Starts copy `i` on its port; false when it did not say it listens there.
  bool StartCopy(std::size_t i) {
    copies_[i] = Process(service_test::StartService(
        {"serve", "--db", CopyDb(i).string(), "--port", std::to_string(ports_[i]), "--threads",
         "2", "--watch", "0"},
        CopyLog(i)));
    return service_test::ListeningPort(copies_[i].Get()) == ports_[i];
  }

  // Starts nginx on the shipped configuration, the ports made the test's.
  bool StartNginx() {
    const std::filesystem::path prefix = dir_.Path() / "nginx";
    std::filesystem::create_directories(prefix);
    std::string site = ReadFile(MARLGATE_DEPLOY_DIR "/nginx/marlgate-travels.conf");
    site = Replaced(site, "127.0.0.1:8081", "127.0.0.1:" + std::to_string(ports_[0]));
    site = Replaced(site, "127.0.0.1:8082", "127.0.0.1:" + std::to_string(ports_[1]));
    site = Replaced(site, "listen 80;", "listen 127.0.0.1:" + std::to_string(front_port_) + ";");
    service_test::WriteFile(prefix / "marlgate-travels.conf", site);
    const std::string p = prefix.string();
    service_test::WriteFile(
        prefix / "nginx.conf",
        // One process, in the foreground: ending it ends nginx whole.
        "daemon off;\nmaster_process off;\nworker_processes 1;\n"
        "pid " + p + "/nginx.pid;\nlock_file " + p + "/nginx.lock;\n"
        "error_log " + p + "/error.log notice;\n"
        "events { worker_connections 256; }\n"
        "http {\n"
        "  access_log " + p + "/access.log;\n"
        "  client_body_temp_path " + p + "/body;\n  proxy_temp_path " + p + "/proxy;\n"
        "  fastcgi_temp_path " + p + "/fastcgi;\n  uwsgi_temp_path " + p + "/uwsgi;\n"
        "  scgi_temp_path " + p + "/scgi;\n"
        "  include " + p + "/marlgate-travels.conf;\n"
        "}\n");
    nginx_process_ = Process(service_test::StartProgram(
        nginx_, {"-p", p + "/", "-c", p + "/nginx.conf", "-e", p + "/error.log"},
        prefix / "stderr.log"));
    return WaitFor([this] { return service_test::RawClient(front_port_).Connected(); }, 10s);
  }

  std::string NginxErrors() const { return ReadFile(dir_.Path() / "nginx" / "error.log"); }

  std::size_t SearchesAnswered(std::size_t i) const {
    return Occurrences(ReadFile(CopyLog(i)), "\"search\" \"sunken\" 200 search");
  }

  TempDir dir_;
  std::string nginx_;
  std::array<int, 2> ports_{};
  int front_port_ = 0;
  std::array<Process, 2> copies_;
  Process nginx_process_;
};

TEST_F(BalancerTest, AKilledCopyCostsNoRequestAndTakesLoadAgainOnceBack) {
  ASSERT_TRUE(StartCopy(0));
  ASSERT_TRUE(StartCopy(1));
  ASSERT_TRUE(StartNginx()) << NginxErrors();

  httplib::Client front("127.0.0.1", front_port_);
  const httplib::Result health = front.Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200);
  EXPECT_NE(health->body.find("\"world\":\"demo-world\""), std::string::npos) << health->body;
  const httplib::Result hidden = front.Get("/metrics");
  ASSERT_TRUE(hidden);
  EXPECT_EQ(hidden->status, 404) << "each copy's metrics are not passed on";

  service_test::LoadClient load(front_port_, 4, "sunken", 1ms);
  ASSERT_TRUE(WaitFor([&] { return load.Answered() >= 400; }, 20s)) << load.FailureNotes();
  for (std::size_t i : {0u, 1u})
    EXPECT_TRUE(WaitFor([&] { return SearchesAnswered(i) > 0; }, 5s)) << "both copies take load";

  // Killed at once, with requests in flight on it.
  EXPECT_EQ(copies_[0].End(SIGKILL), 128 + SIGKILL);
  const std::size_t at_kill = load.Answered();
  const std::size_t other_at_kill = SearchesAnswered(1);
  ASSERT_TRUE(WaitFor([&] { return load.Answered() >= at_kill + 400; }, 20s))
      << load.FailureNotes();
  // The copy writes its log in batches, so its count may trail the client's for a moment.
  EXPECT_TRUE(WaitFor([&] { return SearchesAnswered(1) >= other_at_kill + 400; }, 5s))
      << "the other copy answered them all: " << SearchesAnswered(1) << " vs "
      << other_at_kill + 400;

  // Back on its port: once nginx tries it again (after fail_timeout), it
  // takes its share.
  const auto restarted = std::chrono::steady_clock::now();
  ASSERT_TRUE(StartCopy(0));
  EXPECT_TRUE(WaitFor([&] { return SearchesAnswered(0) >= 100; }, 20s))
      << "the copy that came back took no load";
  const double back_after =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - restarted).count();
  load.Stop();

  std::printf(
      "through nginx: %zu searches answered, %zu failed; the killed copy took load again "
      "%.1f s after it was back\n",
      load.Answered(), load.Failed(), back_after);
  EXPECT_EQ(load.Failed(), 0u) << load.FailureNotes() << NginxErrors();
  EXPECT_EQ(nginx_process_.End(SIGTERM), 0);
  for (Process& copy : copies_) EXPECT_EQ(copy.End(SIGTERM), 0);
}

}  // namespace
