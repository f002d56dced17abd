#include <string.h>

#include "manifest/manifest.h"
#include "shared/text.h"

namespace {

// The value between the first opening and the first closing tag anywhere in
// the document. A missing tag, a closing tag before the opening one or a value
// that does not fit the field (rejected, never cut) leaves the field empty.
void TakeValue(const char* text, const char* open, const char* close, char* field, size_t capacity, long* found) {
  field[0] = '\0';
  *found = -1;
  const char* start = strstr(text, open);
  const char* end = strstr(text, close);
  if (!start || !end) return;
  start += strlen(open);
  if (end < start) return;
  *found = static_cast<long>(end - start);
  CopyBounded(field, capacity, start, static_cast<size_t>(end - start));
}

}  // namespace

UpdateManifest ReadManifest(const char* text) {
  UpdateManifest m = UpdateManifest();
  TakeValue(text, "<swf-url>", "</swf-url>", m.contentUrl, sizeof m.contentUrl,
            &m.foundContentUrl);
  TakeValue(text, "<swf-date>", "</swf-date>", m.contentDate, sizeof m.contentDate,
            &m.foundContentDate);
  TakeValue(text, "<version>", "</version>", m.version, sizeof m.version, &m.foundVersion);
  const char* flag = strstr(text, "<flag>");
  m.forced = flag && flag[sizeof "<flag>" - 1] == 'f';  // only the one byte counts
  TakeValue(text, "<url>", "</url>", m.installerUrl, sizeof m.installerUrl,
            &m.foundInstallerUrl);
  // Optional hashes: their names hold none of the five tags above, so readers
  // that do not know them read the rest as before.
  TakeValue(text, "<sha256>", "</sha256>", m.installerSha256, sizeof m.installerSha256,
            &m.foundInstallerSha256);
  TakeValue(text, "<swf-sha256>", "</swf-sha256>", m.contentSha256, sizeof m.contentSha256,
            &m.foundContentSha256);
  TakeValue(text, "<rollout>", "</rollout>", m.rollout, sizeof m.rollout, &m.foundRollout);
  TakeValue(text, "<serial>", "</serial>", m.serial, sizeof m.serial, &m.foundSerial);
  TakeValue(text, "<product>", "</product>", m.product, sizeof m.product, &m.foundProduct);
  TakeValue(text, "<expires>", "</expires>", m.expires, sizeof m.expires, &m.foundExpires);
  TakeValue(text, "<report>", "</report>", m.report, sizeof m.report, &m.foundReport);
  return m;
}
