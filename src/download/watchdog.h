// The watch of a download. Each request bounds its own waits (kStallLimitMs);
// the watch is there for a call that outlives that bound all the same: it
// closes the download's session, and should the call still not return, the
// process ends (shared/watch.h).
#pragma once

#include "download/download.h"
#include "shared/limits.h"
#include "shared/watch.h"

// How often the watch looks.
const unsigned long kWatchIntervalMs = UPDATER_WATCH_INTERVAL_MS;

// A blocking call that began at `callStarted` and is still under way at
// `now` has outlived its own bound when it ran for the stall limit and a
// grace besides.
WatchVerdict JudgeTransfer(unsigned long now, unsigned long callStarted, int inCall);

// The owner of one download's watch.
class TransferWatchdog : public WatchOwner {
 public:
  // With `recordPath`, bytes of the file may be resumed by the next run: the
  // last clean-up keeps them.
  TransferWatchdog(DownLoadDelegate* delegate, const platform::Internet& session, const char* url, const char* path,
                   const char* recordPath)
      : delegate_(delegate), session_(session.Get()), url_(url), path_(path), recordPath_(recordPath) {}

  WatchVerdict Judge(unsigned long now) override;
  void Expire() override;  // closes the session
  int Abandon(Watch* watch) override;
  void LogEnd() override;

 private:
  DownLoadDelegate* delegate_;
  void* session_;
  const char* url_;
  const char* path_;
  const char* recordPath_;
};
