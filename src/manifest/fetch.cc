#include <stdlib.h>
#include <wchar.h>

#include "manifest/manifest.h"
#include "outside/outside.h"
#include "platform/platform.h"

namespace {

// Reads the whole body, patiently: until Content-Length bytes arrived or, with
// no usable length, until the stream ends. Null for a failed read, a body
// shorter than announced, or one that would pass the cap. The caller frees.
char* ReadBody(platform::Internet request, unsigned long requested) {
  wchar_t lengthText[64] = {};
  int haveLength = platform::QueryContentLength(request, lengthText, 64);
  unsigned long wanted = kManifestCap + 1;  // one more than the cap tells "too long"
  int exact = 0;
  if (haveLength && lengthText[0]) {
    wchar_t* end = nullptr;
    double announced = wcstod(lengthText, &end);
    if (end != lengthText) {
      if (!(announced >= 0) || announced > kManifestCap) return nullptr;
      wanted = static_cast<unsigned long>(announced);
      exact = 1;
    }
  }
  char* body = static_cast<char*>(malloc(wanted + 1));
  if (!body) return nullptr;
  unsigned long received = 0;
  // Each read takes only what has arrived, so that the deadline is looked at
  // between pieces: a single read may otherwise wait for the whole body.
  while (received < wanted) {
    unsigned long available = 0, count = 0;
    int ok = platform::TickCount() - requested < kManifestDeadlineMs && platform::AvailableInternet(request, &available);
    if (ok && available > 0) {
      if (available > wanted - received) available = wanted - received;
      ok = platform::ReadInternet(request, body + received, available, &count);
    }
    if (!ok) {
      free(body);
      return nullptr;
    }
    if (count == 0) break;  // end of stream
    received += count;
  }
  if ((exact && received < wanted) || received > kManifestCap) {
    free(body);
    return nullptr;
  }
  body[received] = '\0';
  return body;
}

}  // namespace

int FetchManifest() {
  platform::Internet session = platform::OpenSession(outside::kManifestUrl);
  if (!session) return 0;
  int answer = 0;
  unsigned long requested = platform::TickCount();
  platform::Internet request = platform::OpenUrlReload(session, outside::kManifestUrl, kManifestTimeoutMs);
  if (request) {
    char* body = ReadBody(request, requested);
    if (body) {
      ReadManifest(body);
      free(body);
      // No installer address means there is nothing to upgrade with.
      answer = gManifest.installerUrl[0] != '\0' && IsNewerThanInstalled();
    }
    platform::CloseInternet(request);
  }
  platform::CloseInternet(session);
  return answer;
}
