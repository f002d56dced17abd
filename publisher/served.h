// What `check --url` fetches from the live server, and how.
#pragma once

#include <string>

struct Answer {
  long status = 0;
  unsigned long long size = 0;        // body bytes received
  std::string contentLength;          // as sent, "" when absent
  std::string cacheControl;           // as sent, "" when absent
  std::string finalUrl, error;
};

// GET of `url` into the file `path`, redirects followed (to http and https
// only), at most `cap` body bytes (the client's ceiling: one more ends the
// transfer) within `seconds` in all; false with `answer->error` when no whole
// answer arrived.
bool HttpGet(const std::string& url, const std::string& userAgent, const std::string& path, unsigned long long cap,
             long seconds, Answer* answer);
