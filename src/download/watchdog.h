// Ends a transfer that has stopped receiving, receives too slowly, or was
// given up by its callback. The platform's download call blocks this thread,
// and during a stall it calls back nothing at all, so the watch runs on a
// thread of its own.
#pragma once

#include "download/download.h"
#include "shared/limits.h"

// A transfer that gains less than kRateFloorBytes within this long is
// abandoned. Long enough for a slow link's pauses, short enough that a stalled
// or trickling run ends within minutes, not after the platform's own hour (or
// never, under Wine).
const unsigned long kStallLimitMs = UPDATER_STALL_LIMIT_MS;
// After an abort the call must return within this, or the process ends.
const unsigned long kAbortGraceMs = UPDATER_ABORT_GRACE_MS;
// How often the watchdog looks.
const unsigned long kWatchIntervalMs = UPDATER_WATCH_INTERVAL_MS;

enum WatchVerdict { kKeepWaiting, kAbortTransfer, kEndProcess };

// What the watchdog does, given the time the transfer last met the rate
// floor, whether its callback gave it up, whether its binding can be aborted
// (it is held, and a first progress report has come: an abort before that
// breaks the binding and the call never returns), and when it was aborted, if
// it was. A time after `now` (a report that landed between the two reads)
// counts as no time passed.
WatchVerdict JudgeTransfer(unsigned long now, unsigned long lastGain, int abandoned, int abortable, int aborted,
                           unsigned long abortedAt);

// Watches one download call from start to return.
class TransferWatchdog {
 public:
  TransferWatchdog(DownLoadDelegate* delegate, const char* url, const char* path);
  ~TransferWatchdog();  // stops and joins the watch

  // The watch: a look every kWatchIntervalMs until the destructor stops it.
  // Runs on the watchdog thread.
  void Watch();

 private:
  Abandoned JudgeVolume();

  DownLoadDelegate* delegate_;
  const char* url_;
  const char* path_;
  void* stop_;    // platform::Event
  void* thread_;  // platform::Thread
  long long roomAtStart_ = -1;  // free bytes on the target's volume when the transfer began
  int aborted_ = 0;
  unsigned long abortedAt_ = 0;
};
