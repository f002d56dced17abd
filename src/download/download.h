// Downloads through the platform's reporting download, and the checks that
// tell a whole file from an error page or a cut transfer.
#pragma once

#include <stddef.h>

#include "platform/platform.h"
#include "shared/limits.h"

// The largest files the downloads hold, in MiB (the build's CMake settings).
#ifndef UPDATER_MAX_CONTENT_MB
#define UPDATER_MAX_CONTENT_MB 64
#endif
#ifndef UPDATER_MAX_INSTALLER_MB
#define UPDATER_MAX_INSTALLER_MB 1024
#endif
const unsigned long kMaxContentBytes = UPDATER_MAX_CONTENT_MB * 1024ul * 1024ul;
const unsigned long kMaxInstallerBytes = UPDATER_MAX_INSTALLER_MB * 1024ul * 1024ul;
const unsigned long kRateFloorBytes = UPDATER_RATE_FLOOR_BYTES;
const unsigned long long kDiskReserveBytes = UPDATER_DISK_RESERVE_BYTES;

// Why a download was given up before its end.
enum Abandoned { kNotAbandoned, kTooBig, kTooBigOnDisk, kPastAnnounced, kNoRoom, kRedirectedOffWeb };

// Where a download's progress is shown; the progress window is one.
class ProgressSink {
 public:
  virtual void Show(unsigned long received, unsigned long total) = 0;

 protected:
  ~ProgressSink() {}
};

// The observer of a download: shows its progress on `progress` (which may be
// null), remembers the sizes the platform reported, and gives the transfer up
// when it grows past `ceiling` bytes, past its announced length, or would not
// leave the reserve free on the volume of `folder`.
class DownLoadDelegate : public platform::DownloadObserver {
 public:
  DownLoadDelegate(ProgressSink* sink, unsigned long maxBytes, const char* targetFolder)
      : progress(sink), ceiling(maxBytes), folder(targetFolder) {}

  // Keeps the first binding, so that the watch can abort it.
  void OnStart(platform::Binding started) override;
  // Drives the progress, feeds the watch and refuses redirects off the web; 0
  // ends the transfer.
  int OnReport(unsigned long progress, unsigned long progressMax, unsigned long status,
               const wchar_t* text) override;

  ProgressSink* progress;
  unsigned long ceiling;           // the most bytes this download may hold
  const char* folder;              // where the file lands: its volume must have room
  unsigned long lastProgress = 0;  // bytes received at the last notification
  unsigned long largestMax = 0;    // largest total the server announced
  unsigned long gainedBytes = 0;   // bytes at the last time the rate floor was met
  long long roomFree = -1;         // free bytes on the volume when room ran short (-1 unknown)
  volatile long long volumeSpent = 0;  // bytes the volume lost during a transfer too big for it
  char cacheFile[platform::kMaxPath] = {};  // the platform's own copy, as it named it (empty: none named)
  int httpStatus = 0;              // the server's answer, when the binding tells (0 unknown)
  // Why the file did not arrive whole, as one token for a report: stalled,
  // too-slow, too-big, no-room, redirect, cut or http-NNN; empty when it did.
  char failure[16] = {};
  int roomChecked = 0;

  platform::Binding binding;  // held from the start until the call returned and its watch ended

  // Shared with the download's watch thread (see watchdog.h).
  void* volatile abortable = nullptr;   // the binding's handle while it is held
  volatile unsigned long lastGain = 0;  // TickCount when the rate floor was last met (or the start)
  volatile long progressSeen = 0;       // a first progress report has come
  volatile long abandoned = kNotAbandoned;  // set here; the watchdog then aborts the binding
  volatile long stalled = 0;            // the watchdog gave up on a transfer below the rate floor

 private:
  Abandoned Judge(unsigned long progress, unsigned long progressMax);
  int RedirectedOffWeb(unsigned long statusCode, const wchar_t* statusText);
};

// Logs which bound ended a transfer, with its figures.
void LogAbandoned(const char* url, const DownLoadDelegate& delegate);

// A signature a downloaded file must begin with.
struct FileSignature {
  const char* const* prefixes;  // null-terminated list; the file starts with one
  size_t length;                // bytes of each prefix
  const char* what;             // for the log: "an executable"
};

// Downloads `url` to `path` through `delegate`. When the call succeeded, the
// file is as long as the platform announced and begins with one of the
// signature's prefixes, answers the file open for reading and shared for
// reading only: the caller closes it. Anything else removes the file and
// answers null. A transfer that stops receiving is abandoned (watchdog.h).
platform::File DownloadWhole(const char* url, const char* path, DownLoadDelegate* delegate,
                             const FileSignature& signature);
