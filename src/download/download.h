// The downloads: over WinINet, into a file, held to the build's ceilings, the
// rate floor and the run's bound; the installer's resumed where a transfer
// broke, within a run and across runs.
#pragma once

#include <stddef.h>

#include "download/kept.h"
#include "platform/platform.h"
#include "shared/limits.h"

// The largest files the downloads hold, in MiB (the build's CMake settings).
#ifndef UPDATER_MAX_CONTENT_MB
#define UPDATER_MAX_CONTENT_MB 64
#endif
#ifndef UPDATER_MAX_INSTALLER_MB
#define UPDATER_MAX_INSTALLER_MB 1024
#endif
// The most one run spends downloading (CMake: UPDATER_DOWNLOAD_MAX_MS).
#ifndef UPDATER_DOWNLOAD_MAX_MS
#define UPDATER_DOWNLOAD_MAX_MS 7200000
#endif
// Requests for the rest that may gain nothing before a run gives up.
#ifndef UPDATER_RESUME_TRIES
#define UPDATER_RESUME_TRIES 5
#endif
const unsigned long kMaxContentBytes = UPDATER_MAX_CONTENT_MB * 1024ul * 1024ul;
const unsigned long kMaxInstallerBytes = UPDATER_MAX_INSTALLER_MB * 1024ul * 1024ul;
const unsigned long kRateFloorBytes = UPDATER_RATE_FLOOR_BYTES;
const unsigned long long kDiskReserveBytes = UPDATER_DISK_RESERVE_BYTES;
const unsigned long kDownloadMaxMs = UPDATER_DOWNLOAD_MAX_MS;
const int kResumeTries = UPDATER_RESUME_TRIES;
const unsigned long kResumePauseMs = UPDATER_RESUME_PAUSE_MS;  // the first pause; each next one doubles
// A transfer that gains less than kRateFloorBytes within this long is
// abandoned; it also bounds each request's connect, send and each wait for data.
const unsigned long kStallLimitMs = UPDATER_STALL_LIMIT_MS;

// How a transfer ended.
enum TransferEnd {
  kEndWhole,  // every byte announced, or the stream's end when none was
  // Ends that keep the bytes, when they may be asked for again:
  kEndBroke,     // the stream ended or failed before its length
  kEndNoAnswer,  // no answer, or an error status
  kEndStalled,   // the rate floor was not met: nothing at all came
  kEndTooSlow,   // the rate floor was not met
  kEndRunBound,  // the run's bound passed
  // Refusals, which keep nothing:
  kEndTooBig, kEndPastAnnounced, kEndNoRoom, kEndRedirected, kEndWriteFailed,
  kEndChanged,  // the file changed under a resumed transfer twice
};

// Where a download's progress is shown; the progress window is one.
class ProgressSink {
 public:
  virtual void Show(unsigned long received, unsigned long total) = 0;

 protected:
  ~ProgressSink() {}
};

// Watches one download: shows its progress on `progress` (which may be null)
// and holds its figures, across the requests of one run.
struct DownLoadDelegate {
  DownLoadDelegate(ProgressSink* sink, unsigned long maxBytes, const char* targetFolder)
      : progress(sink), ceiling(maxBytes), folder(targetFolder) {}

  ProgressSink* progress;
  unsigned long ceiling;     // the most bytes the file may hold
  const char* folder;        // where the file lands: its volume must have room
  // Sizes fit 32 bits: no file is longer than its ceiling (below 4 GiB).
  unsigned long kept = 0;       // bytes of the file on disk
  unsigned long total = 0;      // the whole file's length; 0 unknown
  unsigned long announced = 0;  // the largest length an answer announced
  unsigned long received = 0;   // bytes on the wire in this run (stops at 4 GiB)
  unsigned long gained = 0;     // `received` when the rate floor was last met
  long long roomFree = -1;          // free bytes when room ran short
  int httpStatus = 0;               // the last answer's status (0 none)
  int requests = 0;
  int leftOpen = 0;  // a request was left open with its body still coming: its session stays open too
  char validator[256] = {};         // the answer's strong validator: the bytes may be asked for again
  char at[platform::kMaxUrlLength] = {};  // where the last answer came from
  // Why the file did not arrive whole, as one token for a report: stalled,
  // too-slow, too-big, no-room, redirect, cut, run-bound or http-NNN.
  char failure[16] = {};
  unsigned long started = 0;  // TickCount at the first request

  // Shared with the watch thread (watchdog.h).
  volatile unsigned long lastGain = 0;     // TickCount when the rate floor was last met
  volatile unsigned long callStarted = 0;  // TickCount when the blocking call under way began
  volatile long inCall = 0;                // a blocking call is under way
};

// A signature a downloaded file must begin with.
struct FileSignature {
  const char* const* prefixes;  // null-terminated list; the file starts with one
  size_t length;                // bytes of each prefix
  const char* what;             // for the log: "an executable"
};

// Downloads `url` to `path`. With `resume`, bytes kept at `path` whose record
// at `recordPath` belongs to the same offer are asked for again, and an end
// that may be resumed keeps the bytes and the record; otherwise the file
// starts empty and only a whole one is kept. 1 when `path` holds the whole
// file; else why in `delegate->failure`, logged.
int DownloadToPath(const char* url, const char* path, DownLoadDelegate* delegate, const ResumeKey* resume,
                   const char* recordPath);

// The file at `path`, open for reading and shared for reading only, when it
// is as long as the download announced and begins with one of the
// signature's prefixes; anything else removes it and answers null.
platform::File HoldIfRecognized(const char* url, const char* path, DownLoadDelegate* delegate,
                                const FileSignature& signature);

// DownloadToPath without resuming, then HoldIfRecognized.
platform::File DownloadWhole(const char* url, const char* path, DownLoadDelegate* delegate,
                             const FileSignature& signature);

// One request of a download, for the rest of the file when bytes are kept
// (transfer.cc). `session` may be closed by the watch meanwhile.
class Watch;
TransferEnd TransferOnce(const platform::Internet& session, const Watch& watch, const char* url, const char* path,
                         DownLoadDelegate* delegate, const ResumeKey* resume, const char* recordPath);
