// WinINet: the downloads. Same request steps as the manifest's (win_internet.cc),
// a narrow address, extra headers, and the agent the system's own downloads send.
#include "platform/win_internal.h"

#include <urlmon.h>
#include <wininet.h>

namespace platform {

static_assert(kMaxUrlLength == INTERNET_MAX_URL_LENGTH + 1, "an address and its terminator");

Internet OpenDownloadSession() {
  char agent[256] = {};
  DWORD size = sizeof agent;
  if (::ObtainUserAgentString(0, agent, &size) != S_OK) agent[0] = '\0';
  wchar_t wide[256] = {};
  ::MultiByteToWideChar(CP_ACP, 0, agent, -1, wide, sizeof wide / sizeof wide[0] - 1);
  return OpenSession(wide, /*viaProxy=*/1);
}

Internet OpenDownload(const Internet& session, const char* url, const char* headers, unsigned long timeoutMs) {
  wchar_t wideUrl[kMaxUrlLength] = {};
  wchar_t wideHeaders[512] = {};
  if (!::MultiByteToWideChar(CP_ACP, 0, url, -1, wideUrl, kMaxUrlLength) ||
      (headers && !::MultiByteToWideChar(CP_ACP, 0, headers, -1, wideHeaders, sizeof wideHeaders / sizeof wideHeaders[0]))) {
    ::SetLastError(ERROR_INTERNET_INVALID_URL);
    return Internet();
  }
  return OpenUrlReload(session, wideUrl, timeoutMs, headers ? wideHeaders : nullptr);
}

int QueryHeader(const Internet& request, Header which, char* text, unsigned long capacity) {
  static const DWORD kQueries[] = {HTTP_QUERY_ETAG, HTTP_QUERY_LAST_MODIFIED, HTTP_QUERY_CONTENT_RANGE};
  wchar_t wide[512] = {};
  DWORD size = sizeof wide - sizeof wide[0];
  if (!::HttpQueryInfoW(request.Get(), kQueries[which], wide, &size, /*lpdwIndex=*/nullptr)) return 0;
  int lossy = 0;
  return NarrowToAnsi(wide, text, capacity, &lossy) && !lossy;
}

}  // namespace platform
