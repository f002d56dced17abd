// One GET with libcurl, the way the updater asks: its User-Agent, redirects
// only to http and https, a stall ended after a minute.
#include <curl/curl.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "served.h"

namespace {

struct Sink {
  FILE* file;
  unsigned long long cap, written;
};

// Writes a piece of the body; past the cap it ends the transfer.
size_t WriteBody(char* data, size_t size, size_t count, void* sink) {
  Sink* s = static_cast<Sink*>(sink);
  size_t bytes = size * count;
  if (s->written + bytes > s->cap) return 0;
  s->written += bytes;
  return fwrite(data, 1, bytes, s->file);
}

// Keeps the headers of the last response (a redirect's are replaced).
size_t KeepHeader(char* data, size_t size, size_t count, void* answer) {
  Answer* a = static_cast<Answer*>(answer);
  std::string line(data, size * count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (line.compare(0, 5, "HTTP/") == 0) {
    a->contentLength.clear();
    a->cacheControl.clear();
  }
  size_t colon = line.find(':');
  if (colon == std::string::npos) return size * count;
  std::string value = line.substr(colon + 1);
  value.erase(0, value.find_first_not_of(" \t"));
  if (strncasecmp(line.c_str(), "Content-Length:", 15) == 0) a->contentLength = value;
  if (strncasecmp(line.c_str(), "Cache-Control:", 14) == 0) a->cacheControl = value;
  return size * count;
}

}  // namespace

bool HttpGet(const std::string& url, const std::string& userAgent, const std::string& path, unsigned long long cap,
             long seconds, Answer* answer) {
  static bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == 0;
  FILE* file = ready ? fopen(path.c_str(), "wb") : nullptr;
  CURL* curl = file ? curl_easy_init() : nullptr;
  if (!curl) {
    if (file) fclose(file);
    answer->error = "cannot start a request or write " + path;
    return false;
  }
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, userAgent.c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1024L / 60 + 1);  // the updater's floor: 1 KiB a minute
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, seconds);
  Sink sink = {file, cap, 0};
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, KeepHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, answer);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  CURLcode result = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer->status);
  char* finalUrl = nullptr;
  curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &finalUrl);
  answer->finalUrl = finalUrl ? finalUrl : url;
  curl_off_t size = 0;
  curl_easy_getinfo(curl, CURLINFO_SIZE_DOWNLOAD_T, &size);
  answer->size = static_cast<unsigned long long>(size);
  curl_easy_cleanup(curl);
  fclose(file);
  if (result == CURLE_WRITE_ERROR && sink.written <= cap) {
    answer->error = "longer than the " + std::to_string(cap) + " bytes the updater holds: it abandons such a transfer";
  } else if (result != CURLE_OK) {
    answer->error = error[0] ? error : curl_easy_strerror(result);
  }
  return result == CURLE_OK;
}
