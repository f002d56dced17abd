// URL cracking for the builds that have no WinINet (the publisher's tools and
// the unit tests).
#include <ctype.h>
#include <string.h>

#include <string>

#include "platform/platform.h"

// The updater asks InternetCrackUrlA; this is the same reading for the forms a
// publisher writes: scheme://[user[:password]@]host[:port][/path].
int platform::CrackUrl(const char* url, UrlParts* parts) {
  const char* colon = strstr(url, "://");
  if (!colon || colon == url) return 0;
  std::string scheme(url, colon);
  for (char& c : scheme) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  parts->scheme = scheme == "http" ? kSchemeHttp : scheme == "https" ? kSchemeHttps : kSchemeOther;
  std::string rest = colon + 3;
  std::string authority = rest.substr(0, rest.find_first_of("/?#"));
  size_t at = authority.rfind('@');
  std::string user = at == std::string::npos ? "" : authority.substr(0, at);
  std::string host = at == std::string::npos ? authority : authority.substr(at + 1);
  size_t userColon = user.find(':');
  parts->userLength = static_cast<unsigned long>(userColon == std::string::npos ? user.size() : userColon);
  parts->passwordLength = userColon == std::string::npos ? 0 : static_cast<unsigned long>(user.size() - userColon - 1);
  parts->hostLength = static_cast<unsigned long>(host.substr(0, host.find(':')).size());
  return 1;
}
