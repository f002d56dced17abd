// The fake platform: downloads over WinINet, from the fake's download server.
#include "fake_internal.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace platform {

namespace {

void* const kDownloadSession = reinterpret_cast<void*>(0x30);
void* const kDownloadRequest = reinterpret_cast<void*>(0x31);

}  // namespace

}  // namespace platform

namespace {

// The answer under way.
struct Answer {
  FakeDownload* file = nullptr;
  std::string url, body, contentRange;
  int status = 0;
  unsigned long timeout = 0;
  bool first = true;
  bool stalled = false;
} gAnswer;

std::string HeaderValue(const std::string& headers, const std::string& name) {
  size_t at = headers.find(name + ": ");
  if (at == std::string::npos) return "";
  size_t end = headers.find("\r\n", at);
  return headers.substr(at + name.size() + 2, end - at - name.size() - 2);
}

}  // namespace

namespace platform {

Internet OpenDownloadSession() {
  Record("OpenDownloadSession");
  return Internet(gFake->sessionOpens ? kDownloadSession : nullptr);
}

Internet OpenDownload(const Internet&, const char* url, const char* headers, unsigned long timeoutMs) {
  std::string extra = headers ? headers : "";
  Record(std::string("Download ") + url + (extra.empty() ? "" : " " + HeaderValue(extra, "Range")));
  auto found = gFake->downloads.find(url);
  if (found == gFake->downloads.end() || found->second.error) {
    gFake->lastError = found == gFake->downloads.end() ? 12029 : found->second.error;
    return Internet();
  }
  FakeDownload& d = found->second;
  d.headers.push_back(extra);
  if (d.headers.size() > 1 && !d.replacement.empty()) d.bytes = d.replacement, d.etag = d.replacementEtag;
  gAnswer = Answer();
  gAnswer.file = &d;
  gAnswer.url = url;
  gAnswer.timeout = timeoutMs;
  std::string range = HeaderValue(extra, "Range"), ifRange = HeaderValue(extra, "If-Range");
  size_t from = range.empty() ? 0 : std::stoul(range.substr(6));
  bool same = ifRange == (d.etag.empty() ? d.lastModified : d.etag);
  if (range.empty() || d.ignoresRanges || !same) {
    gAnswer.status = d.status;
    gAnswer.body = d.bytes;
  } else if (from >= d.bytes.size()) {
    gAnswer.status = 416;
  } else {
    gAnswer.status = d.rangeStatus;
    gAnswer.body = d.bytes.substr(from);
    gAnswer.contentRange = "bytes " + std::to_string(from) + "-" + std::to_string(d.bytes.size() - 1) + "/" +
                           std::to_string(d.bytes.size());
  }
  if (!d.contentRange.empty()) gAnswer.contentRange = d.contentRange;
  return Internet(kDownloadRequest);
}

int QueryHeader(const Internet&, Header which, char* text, unsigned long capacity) {
  const std::string& value = which == kHeaderETag           ? gAnswer.file->etag
                             : which == kHeaderLastModified ? gAnswer.file->lastModified
                                                            : gAnswer.contentRange;
  if (value.empty() || value.size() >= capacity) return 0;
  strcpy(text, value.c_str());
  return 1;
}

}  // namespace platform

namespace fake {

bool IsDownloadRequest(void* handle) { return handle == reinterpret_cast<void*>(0x31); }

int DownloadStatus() { return gAnswer.status; }

int DownloadLength(wchar_t* text, unsigned long byteCapacity) {
  if (!gAnswer.file->haveLength) return 0;
  std::wstring length = std::to_wstring(gAnswer.body.size());
  if ((length.size() + 1) * sizeof(wchar_t) > byteCapacity) return 0;
  wcscpy(text, length.c_str());
  return 1;
}

int DownloadUrl(char* url, unsigned long capacity) {
  std::string at = gAnswer.file->redirectedTo.empty() ? gAnswer.url : gAnswer.file->redirectedTo;
  if (at == "!" || at.size() >= capacity) return 0;
  strcpy(url, at.c_str());
  return 1;
}

// The next piece of the body: its size, 0 at its end (or at a cut), -1 when
// the read fails (a stall past the receive timeout).
long DownloadRead(void* buffer, unsigned long size) {
  FakeDownload& d = *gAnswer.file;
  gFake->tick += d.msPerRead;
  size_t cut = gAnswer.body.size();
  size_t request = d.headers.size() - 1;
  if (request < d.cuts.size()) cut = std::min(cut, d.cuts[request]);
  if (!gAnswer.first && d.stallMs && cut > 0 && !gAnswer.stalled) {  // silence: past the receive timeout the read fails
    gAnswer.stalled = true;
    gFake->tick += d.stallMs;
    if (d.stallMs >= gAnswer.timeout) return -1;
  }
  size_t count = std::min<size_t>({size, d.piece, cut});
  memcpy(buffer, gAnswer.body.data(), count);
  gAnswer.body.erase(0, count);
  if (request < d.cuts.size()) d.cuts[request] -= count;
  if (gAnswer.first && count && gFake->duringDownload) gFake->duringDownload(gAnswer.url);
  gAnswer.first = false;
  return static_cast<long>(count);
}

}  // namespace fake
