#include "download/download.h"

#include <string.h>

#include "download/watchdog.h"
#include "shared/log.h"
#include "shared/text.h"
#include "shared/work_paths.h"
#include "trust/trust.h"

void DownLoadDelegate::OnStart(platform::Binding started) {
  if (!started || binding) return;  // the first binding is the one to watch
  binding = static_cast<platform::Binding&&>(started);
  abortable = binding.Get();
}

namespace {

// A redirect may lead to another web host, never off the web; in https-only
// builds, never off https.
int IsWebTarget(const wchar_t* url) {
  static const wchar_t* const kSchemes[] = {L"https://", L"http://"};
  for (const wchar_t* scheme : kSchemes) {
    if (gHttpsOnly && scheme != kSchemes[0]) break;
    const wchar_t* c = url;
    const wchar_t* s = scheme;
    for (; *s && (*c >= L'A' && *c <= L'Z' ? *c + 32 : *c) == *s; ++c, ++s) {
    }
    if (!*s) return 1;
  }
  return 0;
}

}  // namespace

// 1 when a redirect took the transfer off the web (off https in https-only
// builds). Some platforms follow a redirect without reporting it (Wine): in
// https-only builds, where the first data comes from is asked of the binding.
int DownLoadDelegate::RedirectedOffWeb(unsigned long statusCode, const wchar_t* statusText) {
  if (statusCode == platform::kBindStatusRedirecting) return !statusText || !IsWebTarget(statusText);
  char at[2048] = {};
  if (statusCode != platform::kBindStatusBeginData || !gHttpsOnly || !binding ||
      !platform::BindingUrl(binding, at, sizeof at)) {
    return 0;
  }
  wchar_t scheme[9] = {};
  for (int i = 0; i < 8 && at[i]; ++i) scheme[i] = static_cast<unsigned char>(at[i]);
  if (IsWebTarget(scheme)) return 0;
  Log("download: its data comes from \"%s\", not https", at);
  return 1;
}

Abandoned DownLoadDelegate::Judge(unsigned long progress, unsigned long progressMax) {
  if (progressMax > ceiling || progress > ceiling) return kTooBig;
  if (largestMax > 0 && progress > largestMax) return kPastAnnounced;
  if (progressMax > 0 && !roomChecked && folder) {  // the first announced length: is there room for it?
    roomChecked = 1;
    roomFree = platform::FreeDiskBytes(folder);
    if (roomFree >= 0 && static_cast<unsigned long long>(roomFree) < progressMax + kDiskReserveBytes) return kNoRoom;
  }
  return kNotAbandoned;
}

int DownLoadDelegate::OnReport(unsigned long received, unsigned long progressMax, unsigned long statusCode,
                               const wchar_t* statusText) {
  // The platform writes the body to a cache file first; an abandoned one is
  // never committed to the cache, so only its name finds it again.
  if (statusCode == platform::kBindStatusCacheFile && statusText && !cacheFile[0]) {
    NarrowSystemPath(statusText, cacheFile, sizeof cacheFile);
  }
  if (abandoned) return 0;
  if (statusCode == platform::kBindStatusBeginData && binding && !httpStatus) {
    httpStatus = platform::BindingHttpStatus(binding);
  }
  Abandoned verdict = RedirectedOffWeb(statusCode, statusText) ? kRedirectedOffWeb : Judge(received, progressMax);
  // Seen before the time it carries: the watch reads the time first, and a
  // report it catches half-written must never look like an unabortable stall.
  progressSeen = 1;
  lastProgress = received;
  if (progressMax > largestMax) largestMax = progressMax;
  if (verdict != kNotAbandoned) {
    abandoned = verdict;  // the watch aborts the binding should the answer not end it
    return 0;
  }
  if (received >= gainedBytes + kRateFloorBytes) {
    gainedBytes = received;
    lastGain = platform::TickCount();
  }
  if (progress) progress->Show(received, progressMax);
  return 1;
}

namespace {

int StartsWithSignature(const platform::File& file, const FileSignature& signature) {
  unsigned char head[8] = {};
  if (signature.length > sizeof head) return 0;
  long read = platform::ReadFileAt(file, 0, head, static_cast<unsigned long>(signature.length));
  if (read != static_cast<long>(signature.length)) return 0;
  for (const char* const* prefix = signature.prefixes; *prefix; ++prefix) {
    if (memcmp(head, *prefix, signature.length) == 0) return 1;
  }
  return 0;
}

}  // namespace

namespace {

// The report's token for a transfer the watch or the observer gave up.
void SetFailure(DownLoadDelegate* d) {
  const char* token = d->abandoned == kNoRoom             ? "no-room"
                      : d->abandoned == kRedirectedOffWeb ? "redirect"
                      : d->abandoned != kNotAbandoned     ? "too-big"
                      : d->lastProgress == 0              ? "stalled"
                                                          : "too-slow";
  FormatBounded(d->failure, sizeof d->failure, "%s", token);
}

}  // namespace

void LogAbandoned(const char* url, const DownLoadDelegate& d) {
  switch (d.abandoned) {
    case kRedirectedOffWeb:
      Log("download %s: redirected off %s, ended", url, gHttpsOnly ? "https" : "the web");
      break;
    case kTooBig:
      Log("download %s: too big, abandoned: %lu bytes received, %lu announced, holds at most %lu", url,
          d.lastProgress, d.largestMax, d.ceiling);
      break;
    case kTooBigOnDisk:
      Log("download %s: too big, abandoned: the volume lost %.0f bytes during the transfer, more than twice the "
          "%lu it may hold; %lu bytes reported", url, static_cast<double>(d.volumeSpent), d.ceiling, d.lastProgress);
      break;
    case kPastAnnounced:
      Log("download %s: past its announced length, abandoned: %lu bytes received, %lu announced", url,
          d.lastProgress, d.largestMax);
      break;
    case kNoRoom:
      Log("download %s: no room, abandoned: %.0f bytes free on the volume, %.0f needed (%lu announced and the "
          "reserve of %.0f)", url, static_cast<double>(d.roomFree),
          static_cast<double>(d.largestMax) + static_cast<double>(kDiskReserveBytes), d.largestMax,
          static_cast<double>(kDiskReserveBytes));
      break;
    default:
      if (d.lastProgress == 0) {
        Log("download %s: no bytes for %lu ms, abandoned", url, kStallLimitMs);
      } else {
        Log("download %s: too slow, abandoned: less than %lu bytes in %lu ms, %lu bytes received", url,
            kRateFloorBytes, kStallLimitMs, d.lastProgress);
      }
  }
}

platform::File DownloadWhole(const char* url, const char* path, DownLoadDelegate* delegate,
                             const FileSignature& signature) {
  platform::Result result;
  FlushRunLog();  // the transfer may take a while, or end the process
  {
    TransferWatchdog watchdog(delegate, url, path);
    Watch watch(&watchdog, kWatchIntervalMs);
    result = platform::DownloadToFile(url, path, delegate);
  }  // the watch has ended here
  delegate->abortable = nullptr;
  delegate->binding.Reset();
  // The platform keeps a copy in the internet cache whatever the bind flags
  // say (Wine does); a later run must never be handed it.
  platform::DeleteCacheEntry(url);
  if (delegate->stalled || delegate->abandoned) {
    LogAbandoned(url, *delegate);
    SetFailure(delegate);
    platform::RemoveFile(path);
    if (delegate->cacheFile[0]) platform::RemoveFile(delegate->cacheFile);
    return platform::File();
  }
  // One handle from here on: what is checked is what the caller gets, and
  // nobody can write, rename or delete the file while it is held.
  platform::File file;
  if (result == 0) file = platform::OpenForReading(path);
  long long size = file ? platform::OpenFileSize(file) : -1;
  // The platform may answer success for an error page or a cut transfer:
  // also hold the file against the announced length and its signature.
  int whole = size > 0 && (delegate->largestMax == 0 || static_cast<unsigned long long>(size) == delegate->largestMax);
  int recognized = whole && StartsWithSignature(file, signature);
  Log("download %s: 0x%08lX, %ld bytes, announced %lu, %s%s", url, static_cast<unsigned long>(result),
      static_cast<long>(size), delegate->largestMax, recognized ? "whole, " : whole ? "not " : "not whole",
      whole ? signature.what : "");
  if (recognized) return file;
  if (delegate->httpStatus && (whole || delegate->httpStatus != 200)) {
    FormatBounded(delegate->failure, sizeof delegate->failure, "http-%d", delegate->httpStatus);
  } else {
    FormatBounded(delegate->failure, sizeof delegate->failure, "cut");
  }
  file.Reset();
  platform::RemoveFile(path);
  return platform::File();
}
