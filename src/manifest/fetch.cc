#include "manifest/manifest.h"
#include "outside/outside.h"
#include "platform/platform.h"
#include "shared/log.h"
#include "shared/session_deadline.h"
#include "trust/trust.h"

namespace {

// The request to `url`, or null with the reason in `error`. A request of an
// https-only build that a redirect took off https is closed and refused.
platform::Internet OpenRequest(const platform::Internet& session, const Watch& deadline, const wchar_t* url,
                               const char* what, unsigned* error) {
  platform::Internet request = platform::OpenUrlReload(session, url, kManifestTimeoutMs);
  *error = platform::LastError();  // before anything else can change it
  if (deadline.Expired()) {
    request.Forget();  // gone with its session
    return platform::Internet();
  }
  if (!request || !gHttpsOnly) return request;
  char at[2048] = {};
  if (platform::QueryRequestUrl(request, at, sizeof at) && IsWebAddress(at, 1)) return request;
  Log("%s: redirected to \"%s\", not https: refused", what, at);
  *error = platform::kErrorHttpsToHttp;
  return platform::Internet();
}

// Why a request got no answer, for the log.
void LogNoAnswer(const char* what, const char* how, const char* url, unsigned error) {
  const char* meaning = platform::ErrorMeaning(error);
  Log("%s: %sno answer from %s, error %u%s%s", what, how, url, error, meaning ? ", " : "", meaning ? meaning : "");
}

// Ends the watch; 1 when the deadline closed the session (its handles are
// gone: the caller forgets them), logged.
int PassedDeadline(Watch* deadline, const SessionDeadline& owner, const char* what) {
  if (!deadline->Stop()) return 0;
  owner.LogPassed();
  Log("%s: closed at its deadline; no manifest", what);
  return 1;
}

// With signed releases: 1 when the manifest's detached signature, fetched
// with the same session and settings, vouches for exactly these bytes.
int SignatureVouchesFor(const platform::Internet& session, const char* body, unsigned long size, int* sessionClosed) {
  unsigned long requested = platform::TickCount();
  SessionDeadline owner(session, "signature", kManifestDeadlineMs);
  Watch deadline(&owner, kManifestDeadlineMs);
  unsigned error = 0;
  platform::Internet request = OpenRequest(session, deadline, outside::kSignatureUrl, "signature", &error);
  unsigned long signatureSize = 0;
  HeapText signature =
      request ? ReadBody(request, deadline, requested, kSignatureCap, "signature", &signatureSize) : HeapText();
  if ((*sessionClosed = PassedDeadline(&deadline, owner, "signature"))) {
    request.Forget();
    return 0;
  }
  if (!request) {
    LogNoAnswer("signature", "", outside::kSignatureUrlText, error);
    return 0;
  }
  request.Reset();
  return signature && ManifestSignatureIsTrusted(reinterpret_cast<const unsigned char*>(body), size,
                                                 reinterpret_cast<const unsigned char*>(signature.Get()),
                                                 signatureSize);
}

// One attempt at the manifest: 1 with the body in `fetched`, -1 when none was
// read. `noAnswer` tells whether it failed without any answer from a server.
// The request as a whole, from the connection to the body's last byte, and
// the signature's after it, each have the deadline.
int FetchThrough(int viaProxy, int* noAnswer, FetchedManifest* fetched) {
  *noAnswer = 0;
  platform::Internet session = platform::OpenSession(outside::kManifestUrl, viaProxy);
  if (!session) return -1;
  unsigned long requested = platform::TickCount();
  SessionDeadline owner(session, "manifest", kManifestDeadlineMs);
  Watch deadline(&owner, kManifestDeadlineMs);
  unsigned error = 0;
  platform::Internet request = OpenRequest(session, deadline, outside::kManifestUrl, "manifest", &error);
  unsigned long size = 0;
  HeapText body = request ? ReadBody(request, deadline, requested, kManifestCap, "manifest", &size) : HeapText();
  int sessionClosed = PassedDeadline(&deadline, owner, "manifest");
  int trusted = 0;
  if (body && !sessionClosed && gSignedManifest) trusted = SignatureVouchesFor(session, body.Get(), size, &sessionClosed);
  if (sessionClosed) {
    request.Forget();
    session.Forget();
    return -1;
  }
  if (!request) {
    *noAnswer = platform::NeverReachedServer(error);
    LogNoAnswer("manifest", viaProxy ? "through the proxy: " : "direct: ", outside::kManifestUrlText, error);
    return -1;
  }
  // The request's flags kept it out of the cache: nothing to delete.
  if (!body) return -1;
  fetched->body = static_cast<HeapText&&>(body);
  fetched->size = size;
  fetched->signatureTrusted = trusted;
  return 1;
}

}  // namespace

int FetchManifest(FetchedManifest* fetched) {
  // Direct first. Only when no server answered at all, and the system names a
  // proxy, the same request once more the way the downloads go.
  int noAnswer = 0;
  int answer = FetchThrough(0, &noAnswer, fetched);
  if (answer < 0 && noAnswer && platform::SystemHasProxy()) {
    Log("manifest: trying the system's proxy settings");
    answer = FetchThrough(1, &noAnswer, fetched);
  }
  return answer > 0;
}
