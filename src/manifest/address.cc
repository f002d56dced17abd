#include "manifest/manifest.h"
#include "platform/platform.h"

int IsWebAddress(const char* url, int httpsOnly) {
  // A backslash makes a path of it for the platform; control bytes and spaces
  // have no place in an address the publisher wrote.
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(url); *c; ++c) {
    if (*c <= ' ' || *c == 0x7F || *c == '\\') return 0;
  }
  platform::UrlParts parts = {};
  if (!platform::CrackUrl(url, &parts)) return 0;
  int web = parts.scheme == platform::kSchemeHttps || (parts.scheme == platform::kSchemeHttp && !httpsOnly);
  return web && parts.hostLength > 0 && parts.userLength == 0 && parts.passwordLength == 0;
}
