#pragma once

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <pugixml.hpp>

#include <cstring>
#include <string>
#include <vector>

namespace bench {

// The floor's client: the plug-in's request, as bare as libcurl allows. One
// easy handle, reused, so the connection is kept alive between lookups.
class BareClient {
 public:
  static constexpr const char kUrl[] = "http://travel.marlgate.test/marlgate_travels/travel.php";

  explicit BareClient(const std::string& connect_to) {
    easy_ = curl_easy_init();
    headers_ = curl_slist_append(headers_, "Content-Type: application/x-www-form-urlencoded");
    headers_ = curl_slist_append(headers_, "X-Plugin-Name: Marlgate_Travels");
    headers_ = curl_slist_append(headers_, "X-Plugin-Version: 1.0.2");
    headers_ = curl_slist_append(headers_, "Expect:");
    connect_to_ = curl_slist_append(connect_to_, connect_to.c_str());
    curl_easy_setopt(easy_, CURLOPT_URL, kUrl);
    curl_easy_setopt(easy_, CURLOPT_CONNECT_TO, connect_to_);
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(easy_, CURLOPT_PROXY, "");
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, kBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &body_);
  }
  ~BareClient() {
    curl_easy_cleanup(easy_);
    curl_slist_free_all(headers_);
    curl_slist_free_all(connect_to_);
  }
  BareClient(const BareClient&) = delete;
  BareClient& operator=(const BareClient&) = delete;

  // Posts, parses and splits: the number of rows (0 when the post failed).
  size_t Lookup() {
    body_.clear();
    if (curl_easy_perform(easy_) != CURLE_OK) return 0;
    return ParseAndSplit(body_);
  }

  // The body of the last reply, as it arrived.
  const std::string& body() const { return body_; }

  // pugixml parses the reply; "results" is split at each "|" into strings.
  static size_t ParseAndSplit(const std::string& reply) {
    pugi::xml_document document;
    document.load_buffer(reply.data(), reply.size(), pugi::parse_default, pugi::encoding_utf8);
    const char* start = document.document_element().attribute("results").value();
    std::vector<std::string> rows;
    for (const char* bar; (bar = std::strchr(start, '|')) != nullptr; start = bar + 1) {
      rows.emplace_back(start, bar);
    }
    benchmark::DoNotOptimize(rows.data());
    return rows.size();
  }

 private:
  static constexpr const char kBody[] =
      "&travel_action=search&Value=harrow&currentcharacter=&random= .7055475";

  static size_t Collect(char* data, size_t size, size_t count, void* userp) {
    static_cast<std::string*>(userp)->append(data, size * count);
    return size * count;
  }
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
  curl_slist* connect_to_ = nullptr;
  std::string body_;
};

}  // namespace bench
