// One request of a download, and its body written to the file.
#include "download/download.h"
#include "download/splice.h"
#include "manifest/manifest.h"
#include "shared/log.h"
#include "shared/text.h"
#include "trust/trust.h"
#include "shared/watch.h"

namespace {

const unsigned long kProgressIntervalMs = 50;

// In https-only builds the answer must come from https, and an address that
// cannot be read (or is longer than any address may be) is refused.
int AnsweredFromTheWeb(const platform::Internet& request, DownLoadDelegate* d) {
  d->at[0] = '\0';
  int read = platform::QueryRequestUrl(request, d->at, sizeof d->at);
  if (!read) {
    if (gHttpsOnly) Log("download: where its data comes from cannot be read: refused");
    return !gHttpsOnly;
  }
  if (IsWebAddress(d->at, gHttpsOnly)) return 1;
  Log("download: its data comes from \"%s\", not %s", d->at, gHttpsOnly ? "https" : "the web");
  return 0;
}

// The answer's length: -1 unknown, else the bytes announced (past 4 GiB, or
// not a length: refused as too big).
long long AnnouncedLength(const platform::Internet& request) {
  wchar_t text[64] = {};
  if (!platform::QueryContentLength(request, text, sizeof text)) return -1;
  long long length = ParseContentLength(text, 0xFFFFFFFFul);
  return length == kLengthRefused ? 0x100000000ll : length;
}

// Takes the answer's headers: 1 to read its body into the file, else the end
// in `end`. `appending` tells whether the body follows the bytes kept.
int TakeAnswer(const platform::Internet& request, DownLoadDelegate* d, const ResumeKey* resume,
               const char* recordPath, int askedRest, int* appending, TransferEnd* end) {
  int status = platform::QueryStatusCode(request);
  d->httpStatus = status;
  long long length = AnnouncedLength(request);
  *appending = 0;
  if (askedRest) {
    char text[128] = "-";  // the Content-Range, for the log
    ContentRange range = {};
    int haveRange = platform::QueryHeader(request, platform::kHeaderContentRange, text, sizeof text) &&
                    ParseContentRange(text, &range);
    Splice splice = DecideSplice(d->kept, d->total, status, haveRange ? &range : nullptr);
    if (splice == kSpliceAppend && length >= 0 && static_cast<unsigned long>(length) != d->total - d->kept) {
      splice = kSpliceDiscard;  // a range that does not reach the end it names
    }
    static const char* const kOutcomes[] = {"appended", "the whole file again",
                                            "not the rest of the same file: the bytes are dropped", "kept for later"};
    Log("download: asked for the rest from byte %lu: HTTP %d %s, %s", d->kept, status, text, kOutcomes[splice]);
    if (splice == kSpliceRetry) return *end = kEndNoAnswer, 0;
    if (splice == kSpliceDiscard) return *end = kEndChanged, 0;
    *appending = splice == kSpliceAppend;
  } else if (status != 200) {
    return *end = kEndNoAnswer, 0;
  }
  if (*appending) return 1;
  // A whole file comes: what it announces, and whether it may be resumed.
  d->kept = 0;
  if (length > static_cast<long long>(d->ceiling)) {
    d->announced = length > 0xFFFFFFFFll ? 0xFFFFFFFFul : static_cast<unsigned long>(length);
    return *end = kEndTooBig, 0;
  }
  d->total = length > 0 ? static_cast<unsigned long>(length) : 0;
  if (d->total > d->announced) d->announced = d->total;
  char etag[256] = {}, modified[128] = {};
  platform::QueryHeader(request, platform::kHeaderETag, etag, sizeof etag);
  platform::QueryHeader(request, platform::kHeaderLastModified, modified, sizeof modified);
  int resumable = StrongValidator(etag, modified, d->validator, sizeof d->validator) && d->total > 0;
  if (!resumable) d->validator[0] = '\0';
  if (resume) {
    if (!resumable || !WriteKeptRecord(recordPath, RecordFor(*resume, d->validator, d->total))) {
      platform::RemoveFile(recordPath);
      d->validator[0] = '\0';
    }
  }
  if (d->total > 0 && d->folder) {  // room for it, and the reserve besides?
    d->roomFree = platform::FreeDiskBytes(d->folder);
    if (d->roomFree >= 0 && static_cast<unsigned long long>(d->roomFree) < static_cast<unsigned long long>(d->total) + kDiskReserveBytes) {
      return *end = kEndNoRoom, 0;
    }
  }
  return 1;
}

// The end a bound calls for at `now`, or kEndWhole while none does.
TransferEnd BoundPassed(const DownLoadDelegate* d, unsigned long now) {
  if (Elapsed(now, d->started) >= kDownloadMaxMs) return kEndRunBound;
  if (Elapsed(now, d->lastGain) >= kStallLimitMs) return d->received == 0 ? kEndStalled : kEndTooSlow;
  return kEndWhole;
}

// The end a read makes when the file would hold `length` bytes after it (0:
// the stream ended), or kEndWhole when the reading goes on.
TransferEnd LengthPassed(const DownLoadDelegate* d, unsigned long long length, unsigned long count) {
  if (count == 0) return d->total && length < d->total ? kEndBroke : kEndWhole;
  if (d->total && length > d->total) return kEndPastAnnounced;
  return length > d->ceiling ? kEndTooBig : kEndWhole;
}

// Reads the body into the file until its end, a bound, or a failure. Reads
// take what has arrived; the file is written in pieces of at least half the
// buffer, and with whatever is left at the end, so bytes received are kept.
TransferEnd ReadInto(const platform::Internet& request, const Watch& watch, const platform::File& file,
                     DownLoadDelegate* d) {
  static char buffer[65536];  // one thread reads
  unsigned long pending = 0;  // received, not yet written
  unsigned long sinceRoomCheck = 0;
  unsigned long lastShown = platform::TickCount();
  TransferEnd end = kEndWhole;
  while ((end = BoundPassed(d, platform::TickCount())) == kEndWhole) {
    unsigned long available = 0, count = 0, room = sizeof buffer - pending;
    d->callStarted = platform::TickCount();
    d->inCall = 1;
    int ok = platform::AvailableInternet(request, &available) &&
             (available == 0 || platform::ReadInternet(request, buffer + pending, available < room ? available : room,
                                                       &count));
    d->inCall = 0;
    if (!ok || watch.Expired()) {
      end = BoundPassed(d, platform::TickCount());
      if (end == kEndWhole) end = kEndBroke;
      break;
    }
    unsigned long long length = static_cast<unsigned long long>(d->kept) + pending + count;
    end = LengthPassed(d, length, count);
    if (count == 0 || end != kEndWhole) break;
    pending += count;
    d->received += count;
    if (d->received >= d->gained + kRateFloorBytes) {
      d->gained = d->received;
      d->lastGain = platform::TickCount();
    }
    // The window is shown and answers often enough for a person, not at every read.
    unsigned long now = platform::TickCount();
    int showNow = d->progress && (Elapsed(now, lastShown) >= kProgressIntervalMs || length == d->total);
    if (pending >= sizeof buffer / 2 || showNow) {
      if (!platform::WriteToFile(file, buffer, pending)) return kEndWriteFailed;
      d->kept += pending;
      sinceRoomCheck += pending;
      pending = 0;
    }
    // Of a file of unknown length, the volume tells whether there is room.
    if (!d->total && d->folder && sinceRoomCheck >= (1u << 20)) {
      sinceRoomCheck = 0;
      d->roomFree = platform::FreeDiskBytes(d->folder);
      if (d->roomFree >= 0 && static_cast<unsigned long long>(d->roomFree) < kDiskReserveBytes) return kEndNoRoom;
    }
    if (showNow) {
      lastShown = now;
      d->progress->Show(d->kept, d->total);
    }
  }
  if (pending && !platform::WriteToFile(file, buffer, pending)) return kEndWriteFailed;
  d->kept += pending;
  return end;
}

}  // namespace

TransferEnd TransferOnce(const platform::Internet& session, const Watch& watch, const char* url, const char* path,
                         DownLoadDelegate* d, const ResumeKey* resume, const char* recordPath) {
  int askedRest = d->kept > 0 && d->validator[0];
  char headers[400] = {};
  if (askedRest) {
    FormatBounded(headers, sizeof headers, "Range: bytes=%lu-\r\nIf-Range: %s\r\n", d->kept, d->validator);
  }
  ++d->requests;
  d->callStarted = platform::TickCount();
  d->inCall = 1;
  platform::Internet request = platform::OpenDownload(session, url, askedRest ? headers : nullptr, kStallLimitMs);
  unsigned error = platform::LastError();
  d->inCall = 0;
  if (watch.Expired()) {
    request.Forget();  // gone with its session
    return kEndStalled;
  }
  if (!request) {
    d->httpStatus = 0;
    if (error == platform::kErrorHttpsToHttp) return kEndRedirected;
    const char* meaning = platform::ErrorMeaning(error);
    Log("download %s: no answer, error %u%s%s", url, error, meaning ? ", " : "", meaning ? meaning : "");
    return kEndNoAnswer;
  }
  TransferEnd end = kEndRedirected;
  int appending = 0;
  if (AnsweredFromTheWeb(request, d) && TakeAnswer(request, d, resume, recordPath, askedRest, &appending, &end)) {
    platform::File file = platform::OpenForWriting(path, appending);
    if (file) {
      if (d->progress) d->progress->Show(d->kept, d->total);
      end = ReadInto(request, watch, file, d);
    } else {
      Log("download %s: %s cannot be written, error %u", url, path, platform::LastError());
      end = kEndWriteFailed;
    }
  }
  // Wine reads the rest of a chunked body when its request closes, and an
  // endless one would hold the run for ever: a body not read to its end is
  // left to the end of the process, with its session.
  if (watch.Expired() || (end != kEndWhole && end != kEndBroke)) {
    request.Forget();
    d->leftOpen = 1;
  }
  return end;
}
