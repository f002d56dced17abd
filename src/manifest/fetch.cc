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
const unsigned kErrorHttpsToHttp = 12040;    // ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR

// The certificate and TLS failures, named in the log.
const char* TlsFailure(unsigned error) {
  switch (error) {
    case 12037: return "certificate expired or not yet valid";
    case 12038: return "certificate for another name";
    case 12044: return "the server asks for a client certificate";
    case 12045: return "certificate from an untrusted authority";
    case 12057: return "certificate revocation not checked";
    case 12157: return "secure channel failed";
    case 12169: return "certificate invalid";
    case 12170: return "certificate revoked";
    default: return nullptr;
  }
}

// The request to `url`, or null with the reason in `error`. A request of an
// https-only build that a redirect took off https is closed and refused.
platform::Internet OpenRequest(platform::Internet session, const wchar_t* url, const char* what, unsigned* error) {
  platform::Internet request = platform::OpenUrlReload(session, url, kManifestTimeoutMs);
  *error = platform::LastError();  // before anything else can change it
  if (!request || !gHttpsOnly) return request;
  char at[2048] = {};
  if (platform::QueryRequestUrl(request, at, sizeof at) && IsWebAddress(at, 1)) return request;
  Log("%s: redirected to \"%s\", not https: refused", what, at);
  platform::CloseInternet(request);
  *error = kErrorHttpsToHttp;
  return nullptr;
}

// Why a request got no answer, for the log.
void LogNoAnswer(const char* what, const char* how, const char* url, unsigned error) {
  const char* tls = TlsFailure(error);
  Log("%s: %sno answer from %s, error %u%s%s", what, how, url, error, tls ? ", " : "", tls ? tls : "");
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
  unsigned error = 0;
  platform::Internet request = OpenRequest(session, outside::kSignatureUrl, "signature", &error);
  unsigned long signatureSize = 0;
  char* signature = request ? ReadBody(request, requested, kSignatureCap, "signature", &signatureSize) : nullptr;
  if ((*sessionClosed = PassedDeadline(&deadline, "signature"))) {
    free(signature);
    return 0;
  }
  if (!request) {
    LogNoAnswer("signature", "", outside::kSignatureUrlText, error);
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
    if (!field[0] || IsWebAddress(field, gHttpsOnly)) continue;
    Log("manifest: %s refused: not %s address", field == gManifest.installerUrl ? "url" : "swf-url",
        gHttpsOnly ? "an https" : "a web");
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
  unsigned error = 0;
  platform::Internet request = OpenRequest(session, outside::kManifestUrl, "manifest", &error);
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
    LogNoAnswer("manifest", viaProxy ? "through the proxy: " : "direct: ", outside::kManifestUrlText, error);
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
