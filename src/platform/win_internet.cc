// WinINet: the requests and the parsing of addresses.
#include "platform/win_internal.h"

#include <wininet.h>

namespace platform {

int CrackUrl(const char* url, UrlParts* parts) {
  URL_COMPONENTSA cracked = {};
  cracked.dwStructSize = sizeof cracked;
  cracked.dwSchemeLength = 1;  // non-zero: report the lengths of these parts
  cracked.dwHostNameLength = 1;
  cracked.dwUserNameLength = 1;
  cracked.dwPasswordLength = 1;
  if (!::InternetCrackUrlA(url, /*dwUrlLength=*/0, /*dwFlags=*/0, &cracked)) return 0;
  parts->scheme = cracked.nScheme == INTERNET_SCHEME_HTTP    ? kSchemeHttp
                  : cracked.nScheme == INTERNET_SCHEME_HTTPS ? kSchemeHttps
                                                             : kSchemeOther;
  parts->hostLength = cracked.dwHostNameLength;
  parts->userLength = cracked.dwUserNameLength;
  parts->passwordLength = cracked.dwPasswordLength;
  return 1;
}

int SystemHasProxy() {
  INTERNET_PER_CONN_OPTIONW option = {};
  option.dwOption = INTERNET_PER_CONN_FLAGS;
  INTERNET_PER_CONN_OPTION_LISTW list = {};
  list.dwSize = sizeof list;
  list.dwOptionCount = 1;
  list.pOptions = &option;
  DWORD size = sizeof list;
  if (!::InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) return 0;
  return (option.Value.dwValue & (PROXY_TYPE_PROXY | PROXY_TYPE_AUTO_PROXY_URL | PROXY_TYPE_AUTO_DETECT)) != 0;
}

Internet OpenSession(const wchar_t* agent, int viaProxy) {
  return Internet(::InternetOpenW(agent, viaProxy ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_DIRECT, /*lpszProxy=*/nullptr, /*lpszProxyBypass=*/nullptr,
                         /*dwFlags=*/0));
}

// Same request as InternetOpenUrlW (GET, the session's agent, no cache), made
// in steps so that the timeouts sit on the request itself: Wine's
// InternetOpenUrlW drops a session's send and receive timeouts, and a server
// that never answers would hold the run for ever. The connection handle is a
// child of the session and closes with it.
Internet OpenUrlReload(const Internet& session, const wchar_t* url, unsigned long timeoutMs, const wchar_t* headers) {
  wchar_t host[256] = {};
  wchar_t path[kMaxUrlLength] = {};
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host / sizeof host[0];
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = sizeof path / sizeof path[0];
  if (!::InternetCrackUrlW(url, /*dwUrlLength=*/0, /*dwFlags=*/0, &parts)) return Internet();
  DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0;
  HINTERNET connection = ::InternetConnectW(session.Get(), host, parts.nPort, /*lpszUserName=*/nullptr,
                                            /*lpszPassword=*/nullptr, INTERNET_SERVICE_HTTP, /*dwFlags=*/0,
                                            /*dwContext=*/0);
  if (!connection) return Internet();
  const wchar_t* acceptTypes[] = {L"*/*", nullptr};
  HINTERNET request = ::HttpOpenRequestW(connection, L"GET", path, /*lpszVersion=*/nullptr, /*lpszReferrer=*/nullptr,
                                         acceptTypes,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTH |
                                             INTERNET_FLAG_NO_COOKIES | secure,
                                         /*dwContext=*/0);
  if (request) {
    DWORD timeout = timeoutMs;
    const DWORD options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT};
    for (DWORD option : options) ::InternetSetOptionW(request, option, &timeout, sizeof timeout);
    if (::HttpSendRequestW(request, headers, headers ? static_cast<DWORD>(-1) : 0, /*lpOptional=*/nullptr, 0)) {
      return Internet(request);
    }
  }
  DWORD error = ::GetLastError();  // the clean-up must not hide why it failed
  if (request) ::InternetCloseHandle(request);
  ::InternetCloseHandle(connection);
  ::SetLastError(error);
  return Internet();
}

int QueryContentLength(const Internet& request, wchar_t* text, unsigned long byteCapacity) {
  DWORD length = byteCapacity;
  return ::HttpQueryInfoW(request.Get(), HTTP_QUERY_CONTENT_LENGTH, text, &length, /*lpdwIndex=*/nullptr) != FALSE;
}

int AvailableInternet(const Internet& request, unsigned long* available) {
  DWORD count = 0;
  BOOL ok = ::InternetQueryDataAvailable(request.Get(), &count, /*dwFlags=*/0, /*dwContext=*/0);
  *available = count;
  return ok != FALSE;
}

int QueryStatusCode(const Internet& request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) return 0;
  return static_cast<int>(status);
}

int ReadInternet(const Internet& request, void* buffer, unsigned long size, unsigned long* read) {
  DWORD count = 0;
  BOOL ok = ::InternetReadFile(request.Get(), buffer, size, &count);
  *read = count;
  return ok != FALSE;
}

void CloseInternetHandle(void* raw) { ::InternetCloseHandle(raw); }

// The wide call, as for the proxy settings: no import of its own.
int QueryRequestUrl(const Internet& request, char* url, unsigned long capacity) {
  wchar_t wide[kMaxUrlLength] = {};
  DWORD size = sizeof wide - sizeof wide[0];
  int lossy = 0;
  return ::InternetQueryOptionW(request.Get(), INTERNET_OPTION_URL, wide, &size) && NarrowToAnsi(wide, url, capacity, &lossy);
}

}  // namespace platform
