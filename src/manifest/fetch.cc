#include <stdlib.h>

#include "manifest/manifest.h"
#include "outside/outside.h"
#include "platform/platform.h"
#include "shared/deadline.h"
#include "shared/log.h"
#include "trust/trust.h"

namespace {

// WinINet's errors for a request that never reached a server.
const unsigned kErrorTimeout = 12002;       // ERROR_INTERNET_TIMEOUT
const unsigned kErrorNameNotResolved = 12007;  // ERROR_INTERNET_NAME_NOT_RESOLVED
const unsigned kErrorCannotConnect = 12029;  // ERROR_INTERNET_CANNOT_CONNECT

const long kLengthUnknown = -1;
const long kLengthRefused = -2;

// A Content-Length is decimal digits. Text that is no number at all is
// unknown (the body is read to its end); a number of any other form (a sign, a
// fraction, an exponent) or one over the cap is refused.
long ParseContentLength(const wchar_t* text, unsigned long cap) {
  while (*text == L' ' || *text == L'\t') ++text;
  if (!(*text >= L'0' && *text <= L'9') && *text != L'-' && *text != L'+' && *text != L'.') return kLengthUnknown;
  unsigned long value = 0;
  const wchar_t* digits = text;
  for (; *text >= L'0' && *text <= L'9'; ++text) {
    value = value * 10 + static_cast<unsigned long>(*text - L'0');
    if (value > cap) return kLengthRefused;
  }
  while (*text == L' ' || *text == L'\t') ++text;
  return text == digits || *text ? kLengthRefused : static_cast<long>(value);
}

// Reads the whole body, patiently: until Content-Length bytes arrived or, with
// no usable length, until the stream ends, within the deadline. Null for a
// failed read, a body shorter than announced, one that would pass the cap or
// one still arriving at the deadline. The caller frees.
char* ReadBody(platform::Internet request, unsigned long requested, unsigned long cap, const char* what,
               unsigned long* length) {
  wchar_t lengthText[64] = {};
  int haveLength = platform::QueryContentLength(request, lengthText, 64);
  unsigned long wanted = cap + 1;  // one more than the cap tells "too long"
  int exact = 0;
  if (haveLength) {
    long announced = ParseContentLength(lengthText, cap);
    if (announced == kLengthRefused) {
      Log("%s: Content-Length refused (not a length within the cap of %lu)", what, cap);
      return nullptr;
    }
    if (announced >= 0) {
      wanted = static_cast<unsigned long>(announced);
      exact = 1;
    }
  }
  char* body = static_cast<char*>(malloc(wanted + 1));
  if (!body) return nullptr;
  unsigned long received = 0;
  const char* failure = nullptr;
  // Each read takes only what has arrived, so that the deadline is looked at
  // between pieces: a single read may otherwise wait for the whole body.
  while (received < wanted && !failure) {
    unsigned long available = 0, count = 0;
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
  if (!failure && exact && received < wanted) failure = "shorter than announced";
  if (!failure && received > cap) failure = "over the cap";
  Log("%s: HTTP %d, Content-Length %ld, received %lu bytes%s%s", what, platform::QueryStatusCode(request),
      exact ? static_cast<long>(wanted) : -1L, received, failure ? ", refused: " : "", failure ? failure : "");
  if (failure) {
    free(body);
    return nullptr;
  }
  body[received] = '\0';
  *length = received;
  return body;
}

// The watch of a request's deadline closes its session, and with it every
// handle the blocked call waits on.
void CloseSessionNow(void* session) { platform::CloseInternet(session); }

// 1 when the deadline closed the session (its handles are gone), logged.
int PassedDeadline(Deadline* deadline, const char* what) {
  if (!deadline->Stop()) return 0;
  Log("%s: closed at its deadline; no manifest", what);
  return 1;
}

// With signed releases: 1 when the manifest's detached signature, fetched
// with the same session and settings, vouches for exactly these bytes.
int SignatureVouchesFor(platform::Internet session, const char* body, unsigned long size, int* sessionClosed) {
  unsigned long requested = platform::TickCount();
  Deadline deadline(kManifestDeadlineMs, CloseSessionNow, session, "signature");
  platform::Internet request = platform::OpenUrlReload(session, outside::kSignatureUrl, kManifestTimeoutMs);
  unsigned error = platform::LastError();
  unsigned long signatureSize = 0;
  char* signature = request ? ReadBody(request, requested, kSignatureCap, "signature", &signatureSize) : nullptr;
  if ((*sessionClosed = PassedDeadline(&deadline, "signature"))) {
    free(signature);
    return 0;
  }
  if (!request) {
    Log("signature: no answer, error %u; no manifest", error);
    return 0;
  }
  platform::CloseInternet(request);
  int trusted = signature && ManifestSignatureIsTrusted(reinterpret_cast<const unsigned char*>(body), size,
                                                        reinterpret_cast<const unsigned char*>(signature),
                                                        signatureSize);
  free(signature);
  return trusted;
}

// Leaves an address that is not a web address empty, as a value that does not
// fit its field: no content is fetched, no upgrade is offered.
void KeepWebAddressesOnly() {
  char* const fields[] = {gManifest.contentUrl, gManifest.installerUrl};
  for (char* field : fields) {
    if (!field[0] || IsWebAddress(field)) continue;
    Log("manifest: %s refused: not a web address", field == gManifest.installerUrl ? "url" : "swf-url");
    field[0] = '\0';
  }
}

// A field as read: its value, or why it is empty.
void LogField(const char* name, const char* value, long found, size_t capacity) {
  if (value[0]) {
    Log("manifest: %s \"%s\"", name, value);
  } else if (found < 0) {
    Log("manifest: %s missing", name);
  } else if (static_cast<size_t>(found) >= capacity) {
    Log("manifest: %s rejected (%ld bytes; holds at most %lu)", name, found, static_cast<unsigned long>(capacity - 1));
  } else {
    Log("manifest: %s empty", name);
  }
}

// Whether the manifest just read offers an upgrade.
int Decide() {
  KeepWebAddressesOnly();
  int newer = IsNewerThanInstalled();
  // No installer address means there is nothing to upgrade with.
  int answer = gManifest.installerUrl[0] != '\0' && newer && InRollout();
  Log("decision: %s", answer ? (gManifest.forced ? "offered, forced" : "offered, optional")
                      : !newer                      ? "not offered: not newer than installed"
                      : !gManifest.installerUrl[0] ? "not offered: no installer address"
                                                    : "not offered: outside the rollout");
  return answer;
}

// One attempt at the manifest: the decision (1: an upgrade is offered), or -1
// when no body was read. `noAnswer` tells whether it failed without any
// answer from a server. The request as a whole, from the connection to the
// body's last byte, and the signature's after it, each have the deadline.
int FetchThrough(int viaProxy, int* noAnswer) {
  *noAnswer = 0;
  platform::Internet session = platform::OpenSession(outside::kManifestUrl, viaProxy);
  if (!session) return -1;
  unsigned long requested = platform::TickCount();
  Deadline deadline(kManifestDeadlineMs, CloseSessionNow, session, "manifest");
  platform::Internet request = platform::OpenUrlReload(session, outside::kManifestUrl, kManifestTimeoutMs);
  unsigned error = platform::LastError();  // before anything else can change it
  unsigned long size = 0;
  char* body = request ? ReadBody(request, requested, kManifestCap, "manifest", &size) : nullptr;
  int sessionClosed = PassedDeadline(&deadline, "manifest");
  if (body && !sessionClosed && gSignedManifest && !SignatureVouchesFor(session, body, size, &sessionClosed)) {
    free(body);
    body = nullptr;
  }
  if (sessionClosed) {
    free(body);
    return -1;
  }
  int answer = -1;
  if (request) {
    if (body) {
      ReadManifest(body);
      free(body);
      LogField("version", gManifest.version, gManifest.foundVersion, sizeof gManifest.version);
      Log("manifest: flag %s", gManifest.forced ? "forced" : "optional");
      LogField("url", gManifest.installerUrl, gManifest.foundInstallerUrl, sizeof gManifest.installerUrl);
      LogField("swf-url", gManifest.contentUrl, gManifest.foundContentUrl, sizeof gManifest.contentUrl);
      LogField("swf-date", gManifest.contentDate, gManifest.foundContentDate, sizeof gManifest.contentDate);
      answer = Decide();  // while the request is still open
    }
    platform::CloseInternet(request);
  } else {
    *noAnswer = error == kErrorTimeout || error == kErrorNameNotResolved || error == kErrorCannotConnect;
    Log("manifest: %s: no answer from %s, error %u", viaProxy ? "through the proxy" : "direct", outside::kManifestUrlText,
        error);
  }
  platform::CloseInternet(session);  // the request's flags kept it out of the cache: nothing to delete
  return answer;
}

}  // namespace

int FetchManifest() {
  // Direct first. Only when no server answered at all, and the system names a
  // proxy, the same request once more the way the downloads go.
  int noAnswer = 0;
  int answer = FetchThrough(0, &noAnswer);
  if (answer < 0 && noAnswer && platform::SystemHasProxy()) {
    Log("manifest: trying the system's proxy settings");
    answer = FetchThrough(1, &noAnswer);
  }
  return answer > 0;
}
