#include <string.h>

#include "manifest/manifest.h"
#include "shared/text.h"

UpdateManifest gManifest;

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

void ReadManifest(const char* text) {
  TakeValue(text, "<swf-url>", "</swf-url>", gManifest.contentUrl, sizeof gManifest.contentUrl,
            &gManifest.foundContentUrl);
  TakeValue(text, "<swf-date>", "</swf-date>", gManifest.contentDate, sizeof gManifest.contentDate,
            &gManifest.foundContentDate);
  TakeValue(text, "<version>", "</version>", gManifest.version, sizeof gManifest.version, &gManifest.foundVersion);
  const char* flag = strstr(text, "<flag>");
  gManifest.forced = flag && flag[sizeof "<flag>" - 1] == 'f';  // only the one byte counts
  TakeValue(text, "<url>", "</url>", gManifest.installerUrl, sizeof gManifest.installerUrl,
            &gManifest.foundInstallerUrl);
  // Optional hashes: their names hold none of the five tags above, so readers
  // that do not know them read the rest as before.
  TakeValue(text, "<sha256>", "</sha256>", gManifest.installerSha256, sizeof gManifest.installerSha256,
            &gManifest.foundInstallerSha256);
  TakeValue(text, "<swf-sha256>", "</swf-sha256>", gManifest.contentSha256, sizeof gManifest.contentSha256,
            &gManifest.foundContentSha256);
  TakeValue(text, "<rollout>", "</rollout>", gManifest.rollout, sizeof gManifest.rollout, &gManifest.foundRollout);
}
