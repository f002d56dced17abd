#include "content/content.h"

#include <stdio.h>
#include <string.h>

#include "manifest/manifest.h"
#include "outside/outside.h"
#include "platform/platform.h"
#include "shared/log.h"
#include "shared/text.h"
#include "shared/work_paths.h"
#include "trust/trust.h"
#include "download/download.h"

namespace {

// The stored stamp, or empty when the value is missing, not a string, longer
// than the buffer or stored without its terminator.
void ReadStoredStamp(const platform::RegKey& key, char* stamp, unsigned long capacity) {
  unsigned long type = 0;
  unsigned long size = capacity;
  long status = platform::QueryValue(key, outside::kRegUpdateTime, &type,
                                     reinterpret_cast<unsigned char*>(stamp), &size);
  if (status != 0 || type != platform::kRegSz || size == 0 || size > capacity || stamp[size - 1] != '\0') {
    memset(stamp, 0, capacity);
  }
}

const char* const kSwfPrefixes[] = {"FWS", "CWS", "ZWS", nullptr};
const FileSignature kSwfSignature = {kSwfPrefixes, 3, "an SWF file"};

}  // namespace

int NeedsContentRefresh() {
  if (!gManifest.contentUrl[0] || !gManifest.contentDate[0]) {
    Log("content: none announced");
    return 0;
  }
  JoinText(gWorkPaths.contentPath, sizeof gWorkPaths.contentPath, gWorkPaths.workDir, outside::kContentName);
  platform::File file = platform::OpenForReading(gWorkPaths.contentPath);
  if (!file) {
    Log("content: due, no file");
    return 1;
  }
  platform::RegKey key = platform::OpenOrCreateUserKey(outside::kRegistryKey);
  if (!key) {
    Log("content: due, no registry key");
    return 1;
  }
  char stored[platform::kMaxPath] = {};
  ReadStoredStamp(key, stored, sizeof stored);
  key.Reset();
  file.Reset();
  int due = StampIsNewer(gManifest.contentDate, stored);
  Log("content: %s, announced \"%s\", stored \"%s\"", due ? "due" : "not due", gManifest.contentDate, stored);
  return due;
}

void RefreshContentIfNeeded() {
  if (!NeedsContentRefresh()) return;
  // The old file stays in place until a whole new one has arrived beside it.
  char partPath[platform::kMaxPath];
  if (!JoinText(partPath, sizeof partPath, gWorkPaths.workDir, outside::kContentPartName)) return;
  platform::RemoveFile(partPath);
  DownLoadDelegate delegate(nullptr, kMaxContentBytes, gWorkPaths.workDir);
  platform::File file = DownloadWhole(gManifest.contentUrl, partPath, &delegate, kSwfSignature);
  // Its hash is checked before the old file is touched.
  int arrived = file ? 1 : 0;
  int matches = arrived && FileMatchesHash(file, gManifest.contentSha256, "content");
  file.Reset();  // a file held open cannot be moved
  if (!matches) {
    if (arrived) platform::RemoveFile(partPath);
    Log("content: kept the old file");
    return;
  }
  if (!platform::MoveReplacing(partPath, gWorkPaths.contentPath)) {
    Log("content: kept the old file, replacing it failed, error %u", platform::LastError());
    platform::RemoveFile(partPath);
    return;
  }
  RecordContentRefresh();
  Log("content: replaced and recorded");
}

void RecordContentRefresh() {
  platform::RegKey key = platform::OpenOrCreateUserKey(outside::kRegistryKey);
  if (!key) return;
  platform::SetDwordValue(key, outside::kRegUpdateFlag, 1);
  platform::LocalTime now = platform::CurrentLocalTime();
  char stamp[64];
  snprintf(stamp, sizeof stamp, "%d-%02d-%02d|%02d:%02d:%02d", now.year, now.month, now.day, now.hour, now.minute,
           now.second);
  stamp[sizeof stamp - 1] = '\0';  // msvcrt's snprintf leaves a cut text unterminated
  platform::SetStringValue(key, outside::kRegUpdateTime, stamp);
}
