#include "download/download.h"

#include <string.h>

#include "download/watchdog.h"
#include "shared/clock.h"
#include "shared/log.h"
#include "shared/text.h"
#include "trust/trust.h"

namespace {

int KeepsBytes(TransferEnd end) { return end >= kEndBroke && end <= kEndRunBound; }

// The report's token and the log's line for an end other than whole.
void SayEnd(const char* url, TransferEnd end, DownLoadDelegate* d) {
  unsigned long kept = d->kept, total = d->total;
  const char* token = "cut";
  switch (end) {
    case kEndStalled:
      Log("download %s: no bytes for %lu ms, abandoned", url, kStallLimitMs);
      token = "stalled";
      break;
    case kEndTooSlow:
      Log("download %s: too slow, abandoned: less than %lu bytes in %lu ms, %lu bytes received", url,
          kRateFloorBytes, kStallLimitMs, d->received);
      token = "too-slow";
      break;
    case kEndRunBound:
      Log("download %s: the run's bound of %lu ms passed, %lu of %lu bytes", url, kDownloadMaxMs, kept, total);
      token = "run-bound";
      break;
    case kEndTooBig:
      Log("download %s: too big, abandoned: %lu bytes received, %lu announced, holds at most %lu", url, kept,
          d->announced, d->ceiling);
      token = "too-big";
      break;
    case kEndPastAnnounced:
      Log("download %s: past its announced length, abandoned: %lu announced", url, total);
      token = "too-big";
      break;
    case kEndNoRoom:
      Log("download %s: no room, abandoned: %lu KiB free on the volume, %lu bytes announced and a reserve of %lu KiB "
          "needed", url, static_cast<unsigned long>(d->roomFree >> 10), total,
          static_cast<unsigned long>(kDiskReserveBytes >> 10));
      token = "no-room";
      break;
    case kEndRedirected:
      Log("download %s: redirected off %s, ended", url, gHttpsOnly ? "https" : "the web");
      token = "redirect";
      break;
    case kEndChanged:
      Log("download %s: the file changed again while it was resumed: given up", url);
      break;
    case kEndNoAnswer:
      if (d->httpStatus && d->httpStatus != 200) {
        Log("download %s: HTTP %d", url, d->httpStatus);
        FormatBounded(d->failure, sizeof d->failure, "http-%d", d->httpStatus);
        return;
      }
      break;
    default:
      Log("download %s: ended at %lu of %lu bytes", url, kept, total);
  }
  FormatBounded(d->failure, sizeof d->failure, "%s", token);
}

// Bytes kept at `path` by an earlier run for the same offer, with their
// validator and total; anything else is removed.
void TakeKeptBytes(const char* path, const char* recordPath, const ResumeKey& key, DownLoadDelegate* d) {
  KeptRecord record;
  long long size = platform::PathFileSize(path);
  const char* mismatch = !ReadKeptRecord(recordPath, &record) ? "no record"
                         : size <= 0 || static_cast<unsigned long>(size) >= record.total ? "not part of it"
                         : !record.validator[0] ? "no validator"
                                                : RecordMismatch(record, key, NowUtcSeconds());
  if (mismatch) {
    if (size >= 0) Log("download: %ld bytes kept from an earlier run dropped: %s", static_cast<long>(size), mismatch);
    platform::RemoveFile(path);
    platform::RemoveFile(recordPath);
    return;
  }
  d->kept = static_cast<unsigned long>(size);
  d->total = d->announced = record.total;
  FormatBounded(d->validator, sizeof d->validator, "%s", record.validator);
  Log("download: resuming from %lu of %lu bytes kept by an earlier run", d->kept, d->total);
}

// The requests of one download: the rest is asked for again while it may be.
TransferEnd Transfer(const platform::Internet& session, const Watch& watch, const char* url, const char* path,
                     DownLoadDelegate* d, const ResumeKey* resume, const char* recordPath) {
  int tries = 0, discarded = 0;
  for (;;) {
    unsigned long before = d->kept;
    TransferEnd end = TransferOnce(session, watch, url, path, d, resume, recordPath);
    if (watch.Expired()) return end;
    if (end == kEndChanged && !discarded++) {  // start over, once
      d->kept = 0;
      d->validator[0] = '\0';
      if (recordPath) platform::RemoveFile(recordPath);
      continue;
    }
    if (!(end == kEndBroke || end == kEndNoAnswer) || !resume || !d->validator[0] || !d->kept) return end;
    // A request that gained less than the rate floor counts as one that gained
    // nothing: a server that cuts every answer short is not asked ever faster.
    if (d->kept >= before + kRateFloorBytes) {
      tries = 0;  // it gained: ask again at once
    } else {
      if (++tries > kResumeTries) return end;
      unsigned long pause = kResumePauseMs << (tries - 1);
      unsigned long now = platform::TickCount();
      if (Elapsed(now, d->lastGain) + pause >= kStallLimitMs) return d->received ? kEndTooSlow : kEndStalled;
      if (Elapsed(now, d->started) + pause >= kDownloadMaxMs) return kEndRunBound;
      platform::Pause(pause);
    }
  }
}

}  // namespace

int DownloadToPath(const char* url, const char* path, DownLoadDelegate* d, const ResumeKey* resume,
                   const char* recordPath) {
  if (resume) TakeKeptBytes(path, recordPath, *resume, d);
  FlushRunLog();  // the transfer may take a while, or end the process
  d->started = d->lastGain = platform::TickCount();
  TransferEnd end = kEndNoAnswer;
  platform::Internet session = platform::OpenDownloadSession();
  if (session) {
    TransferWatchdog owner(d, session, url, path, resume ? recordPath : nullptr);
    Watch watch(&owner, kWatchIntervalMs);
    end = Transfer(session, watch, url, path, d, resume, recordPath);
    if (watch.Stop() || d->leftOpen) session.Forget();  // closed by the watch, or left to the process's end
  }
  Log("download %s: requests %d, %lu bytes on the wire, %lu of %lu bytes in the file", url, d->requests, d->received,
      d->kept, d->total);
  if (end == kEndWhole) return 1;
  SayEnd(url, end, d);
  if (resume && KeepsBytes(end) && d->validator[0] && d->kept > 0) {
    Log("download %s: %lu bytes kept for the next run", url, d->kept);
    return 0;
  }
  platform::RemoveFile(path);
  if (resume) platform::RemoveFile(recordPath);
  return 0;
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

platform::File HoldIfRecognized(const char* url, const char* path, DownLoadDelegate* d,
                                const FileSignature& signature) {
  // One handle from here on: what is checked is what the caller gets, and
  // nobody can write, rename or delete the file while it is held.
  platform::File file = platform::OpenForReading(path);
  long long size = file ? platform::OpenFileSize(file) : -1;
  int whole = size > 0 && static_cast<unsigned long>(size) <= d->ceiling &&
              (d->total == 0 || static_cast<unsigned long>(size) == d->total);
  int recognized = whole && StartsWithSignature(file, signature);
  Log("download %s: %ld bytes, announced %lu, %s%s", url, static_cast<long>(size), d->total,
      recognized ? "whole, " : whole ? "not " : "not whole", whole ? signature.what : "");
  if (recognized) return file;
  FormatBounded(d->failure, sizeof d->failure, whole ? "http-200" : "cut");
  file.Reset();
  platform::RemoveFile(path);
  return platform::File();
}

platform::File DownloadWhole(const char* url, const char* path, DownLoadDelegate* d, const FileSignature& signature) {
  if (!DownloadToPath(url, path, d, nullptr, nullptr)) return platform::File();
  return HoldIfRecognized(url, path, d, signature);
}
