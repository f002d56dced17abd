// The watch of a download: ends a transfer that has stopped receiving,
// receives too slowly, or was given up by its observer. The platform's
// download call blocks the main thread, and during a stall it reports
// nothing at all, so only a watch (shared/watch.h) can end it.
#pragma once

#include "download/download.h"
#include "shared/limits.h"
#include "shared/watch.h"

// A transfer that gains less than kRateFloorBytes within this long is
// abandoned. Long enough for a slow link's pauses, short enough that a stalled
// or trickling run ends within minutes, not after the platform's own hour (or
// never, under Wine).
const unsigned long kStallLimitMs = UPDATER_STALL_LIMIT_MS;
// How often the watch looks.
const unsigned long kWatchIntervalMs = UPDATER_WATCH_INTERVAL_MS;

// What the watch does, given the time the transfer last met the rate floor,
// whether its observer gave it up, and whether its binding can be aborted (it
// is held, and a first progress report has come: an abort before that breaks
// the binding and the call never returns). A time after `now` (a report that
// landed between the two reads) counts as no time passed.
WatchVerdict JudgeTransfer(unsigned long now, unsigned long lastGain, int abandoned, int abortable);

// The owner of one download call's watch.
class TransferWatchdog : public WatchOwner {
 public:
  TransferWatchdog(DownLoadDelegate* delegate, const char* url, const char* path);

  WatchVerdict Judge(unsigned long now) override;
  void Expire() override;  // aborts the binding
  int Abandon(Watch* watch) override;  // leaves no partial file or cached copy
  void LogEnd() override;

 private:
  Abandoned JudgeVolume();

  DownLoadDelegate* delegate_;
  const char* url_;
  const char* path_;
  long long roomAtStart_ = -1;  // free bytes on the target's volume when the transfer began
  void* aborted_ = nullptr;     // the binding the watch aborted
};
