#pragma once
// A minimal blocking HTTP client for the emulator tests, straight on libcurl,
// so that they depend on nothing the library itself is still building.

#include <curl/curl.h>

#include <string>
#include <utility>
#include <vector>

namespace corvenza::test {

struct PlainResponse {
  long status = 0;
  std::string body;
  /// Raw header lines as received, "Name: value".
  std::vector<std::string> headerLines;
  std::string curlError;

  bool hasHeaderLine(const std::string& line) const {
    for (const auto& received : headerLines) {
      if (received == line) return true;
    }
    return false;
  }
};

/// Gives up after @p timeoutMs (then curlError tells so).
inline PlainResponse plainRequest(const std::string& method, const std::string& url,
                                  const std::vector<std::string>& headers,
                                  const std::string& body = {}, long timeoutMs = 30'000,
                                  const std::string& caFile = {}) {
  PlainResponse response;
  CURL* curl = curl_easy_init();
  curl_slist* list = nullptr;
  for (const auto& header : headers) list = curl_slist_append(list, header.c_str());
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
  if (method != "GET") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  }
  auto onBody = +[](char* data, size_t size, size_t count, void* out) -> size_t {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
  };
  auto onHeader = +[](char* data, size_t size, size_t count, void* out) -> size_t {
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (!line.empty()) static_cast<std::vector<std::string>*>(out)->push_back(std::move(line));
    return size * count;
  };
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response.headerLines);
  const auto rc = curl_easy_perform(curl);
  if (rc != CURLE_OK) response.curlError = curl_easy_strerror(rc);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
  curl_slist_free_all(list);
  curl_easy_cleanup(curl);
  return response;
}

}  // namespace corvenza::test
