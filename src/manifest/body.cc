// The manifest request's body: read whole, within the cap and the deadline.
#include <stdlib.h>

#include "manifest/manifest.h"
#include "platform/platform.h"
#include "shared/log.h"
#include "shared/text.h"
#include "shared/watch.h"

// Reads the whole body, patiently: until Content-Length bytes arrived or, with
// no usable length, until the stream ends, within the deadline. Null for a
// failed read, a body shorter than announced, one that would pass the cap or
// one still arriving at the deadline. Once the deadline's watch closed the
// request, nothing more is asked of it.
HeapText ReadBody(const platform::Internet& request, const Watch& deadline, unsigned long requested,
                  unsigned long cap, const char* what, unsigned long* length) {
  wchar_t lengthText[64] = {};
  int haveLength = platform::QueryContentLength(request, lengthText, 64);
  unsigned long wanted = cap + 1;  // one more than the cap tells "too long"
  int exact = 0;
  if (haveLength) {
    long long announced = ParseContentLength(lengthText, cap);
    if (announced == kLengthRefused) {
      Log("%s: Content-Length refused (not a length within the cap of %lu)", what, cap);
      return HeapText();
    }
    if (announced >= 0) {
      wanted = static_cast<unsigned long>(announced);
      exact = 1;
    }
  }
  HeapText text(static_cast<char*>(malloc(wanted + 1)));
  char* body = text.Get();
  if (!body) return HeapText();
  unsigned long received = 0;
  const char* failure = nullptr;
  // Each read takes only what has arrived, so that the deadline is looked at
  // between pieces: a single read may otherwise wait for the whole body.
  while (received < wanted && !failure) {
    unsigned long available = 0, count = 0;
    if (deadline.Expired()) return HeapText();  // the request is gone
    if (platform::TickCount() - requested >= kManifestDeadlineMs) {
      failure = "deadline passed";
    } else if (!platform::AvailableInternet(request, &available) ||
               (available > 0 && !platform::ReadInternet(request, body + received,
                                                         available < wanted - received ? available : wanted - received,
                                                         &count))) {
      failure = "read failed";
    } else if (count == 0) {
      break;  // end of stream
    }
    received += count;
  }
  if (deadline.Expired()) return HeapText();
  if (!failure && exact && received < wanted) failure = "shorter than announced";
  if (!failure && received > cap) failure = "over the cap";
  Log("%s: HTTP %d, Content-Length %ld, received %lu bytes%s%s", what, platform::QueryStatusCode(request),
      exact ? static_cast<long>(wanted) : -1L, received, failure ? ", refused: " : "", failure ? failure : "");
  if (failure) return HeapText();
  body[received] = '\0';
  *length = received;
  return text;
}
