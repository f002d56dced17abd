#include "download/watchdog.h"

#include "platform/platform.h"
#include "shared/log.h"

WatchVerdict JudgeTransfer(unsigned long now, unsigned long lastGain, int abandoned, int abortable) {
  if (!abandoned && Elapsed(now, lastGain) < kStallLimitMs) return kKeepWaiting;
  return abortable ? kExpire : kEndNow;
}

// The watch thread touches only the delegate's watch fields (read: lastGain,
// progressSeen, abortable, folder, ceiling, largestMax; written: stalled, and
// abandoned with its figure while it is still unset), the binding's Abort,
// and just before the process ends the download's file, its cache entry and
// file, and the log.
TransferWatchdog::TransferWatchdog(DownLoadDelegate* delegate, const char* url, const char* path)
    : delegate_(delegate), url_(url), path_(path) {
  delegate_->lastGain = platform::TickCount();
  roomAtStart_ = delegate_->folder ? platform::FreeDiskBytes(delegate_->folder) : -1;
}

// The platform may write a body it reports nothing of (Wine, for a chunked
// one without a length): the volume shows what it takes. Besides the file, a
// transfer may hold one more copy of it in the internet cache.
// Only for a transfer of unknown length: one that announced its length is
// held to it by its reports, and other programs' writes never count against it.
Abandoned TransferWatchdog::JudgeVolume() {
  if (roomAtStart_ < 0 || delegate_->largestMax > 0) return kNotAbandoned;
  long long room = platform::FreeDiskBytes(delegate_->folder);
  if (room < 0) return kNotAbandoned;
  long long spent = roomAtStart_ - room;
  if (spent > 2 * static_cast<long long>(delegate_->ceiling) + static_cast<long long>(kDiskReserveBytes)) {
    delegate_->volumeSpent = spent;
    return kTooBigOnDisk;
  }
  if (room < static_cast<long long>(kDiskReserveBytes) && spent > 0) {
    delegate_->roomFree = room;
    return kNoRoom;
  }
  return kNotAbandoned;
}

WatchVerdict TransferWatchdog::Judge(unsigned long) {
  if (delegate_->abandoned == kNotAbandoned) {
    Abandoned onDisk = JudgeVolume();
    if (onDisk != kNotAbandoned) delegate_->abandoned = onDisk;
  }
  // The time first, the clock last: a report landing in between makes the
  // time newer than the clock, never a stall, and is already marked seen.
  unsigned long lastGain = delegate_->lastGain;
  int abandoned = delegate_->abandoned != kNotAbandoned;
  void* binding = delegate_->abortable;
  int abortable = binding && delegate_->progressSeen;
  WatchVerdict verdict = JudgeTransfer(platform::TickCount(), lastGain, abandoned, abortable);
  if (verdict != kKeepWaiting && !abandoned) delegate_->stalled = 1;
  if (verdict == kExpire) aborted_ = binding;
  return verdict;
}

void TransferWatchdog::Expire() { platform::AbortBinding(aborted_); }

// Nothing else ends the call: leave no partial file or cached copy. The
// platform may still be copying its cache file to the target (Wine does after
// an abort): the file gets one more grace to be let go of.
int TransferWatchdog::Abandon(Watch* watch) {
  for (unsigned long waited = 0;
       !platform::RemoveFile(path_) && platform::PathFileSize(path_) >= 0 && waited < kWatchGraceMs;
       waited += kWatchIntervalMs) {
    if (watch->WaitStopped(kWatchIntervalMs)) return 0;  // the call returned: its caller cleans up
  }
  platform::DeleteCacheEntry(url_);
  if (delegate_->cacheFile[0]) platform::RemoveFile(delegate_->cacheFile);
  return 1;
}

void TransferWatchdog::LogEnd() {
  LogAbandoned(url_, *delegate_);
  Log("download %s: could not be aborted, the run ends here", url_);
}
