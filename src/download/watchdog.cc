#include "download/watchdog.h"

#include <stdint.h>

#include "download/download.h"
#include "platform/platform.h"
#include "shared/log.h"

namespace {

// Milliseconds from `then` to `now` on the 32-bit tick, across its wrap; 0
// when `then` is later.
unsigned long Elapsed(unsigned long now, unsigned long then) {
  uint32_t difference = static_cast<uint32_t>(now - then);
  return difference > 0x7FFFFFFFu ? 0 : difference;
}

}  // namespace

WatchVerdict JudgeTransfer(unsigned long now, unsigned long lastGain, int abandoned, int abortable, int aborted,
                           unsigned long abortedAt) {
  if (aborted) return Elapsed(now, abortedAt) >= kAbortGraceMs ? kEndProcess : kKeepWaiting;
  if (!abandoned && Elapsed(now, lastGain) < kStallLimitMs) return kKeepWaiting;
  return abortable ? kAbortTransfer : kEndProcess;
}

namespace {

// The watch thread touches only the delegate's watch fields (read: lastGain,
// progressSeen, binding, folder, ceiling, largestMax; written: stalled, and abandoned with
// its figure while it is still unset), the binding's Abort, and at the
// very end the download's file, its cache entry and file, and the log (the main thread
// waits inside the download call then) before the process ends.
void WatchLoop(void* context) {
  TransferWatchdog* watchdog = static_cast<TransferWatchdog*>(context);
  watchdog->Watch();
}

}  // namespace

TransferWatchdog::TransferWatchdog(DownLoadDelegate* delegate, const char* url, const char* path)
    : delegate_(delegate), url_(url), path_(path), stop_(platform::NewEvent()), thread_(nullptr) {
  delegate_->lastGain = platform::TickCount();
  roomAtStart_ = delegate_->folder ? platform::FreeDiskBytes(delegate_->folder) : -1;
  if (stop_) thread_ = platform::StartThread(WatchLoop, this);
}

TransferWatchdog::~TransferWatchdog() {
  if (thread_) {
    platform::SignalEvent(stop_);
    platform::JoinThread(thread_);
  }
  if (stop_) platform::CloseEvent(stop_);
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

void TransferWatchdog::Watch() {
  while (!platform::WaitEvent(stop_, kWatchIntervalMs)) {
    if (delegate_->abandoned == kNotAbandoned) {
      Abandoned onDisk = JudgeVolume();
      if (onDisk != kNotAbandoned) delegate_->abandoned = onDisk;
    }
    // The time first, the clock last: a report landing in between makes the
    // time newer than the clock, never a stall, and is already marked seen.
    unsigned long lastGain = delegate_->lastGain;
    int abandoned = delegate_->abandoned != kNotAbandoned;
    int abortable = delegate_->binding && delegate_->progressSeen;
    void* binding = delegate_->binding;
    unsigned long now = platform::TickCount();
    WatchVerdict verdict = JudgeTransfer(now, lastGain, abandoned, abortable, aborted_, abortedAt_);
    if (verdict == kAbortTransfer) {
      if (!abandoned) delegate_->stalled = 1;
      aborted_ = 1;
      abortedAt_ = now;
      platform::AbortBinding(binding);
    } else if (verdict == kEndProcess) {
      // Nothing else ends the call: leave no partial file or cached copy. The
      // platform may still be copying its cache file to the target (Wine does
      // after an abort): the file gets one more grace to be let go of.
      if (!abandoned) delegate_->stalled = 1;
      for (unsigned long waited = 0; !platform::RemoveFile(path_) && platform::PathFileSize(path_) >= 0 &&
                                     waited < kAbortGraceMs;
           waited += kWatchIntervalMs) {
        if (platform::WaitEvent(stop_, kWatchIntervalMs)) return;  // the call returned: its caller cleans up
      }
      platform::DeleteCacheEntry(url_);
      if (delegate_->cacheFile[0]) platform::RemoveFile(delegate_->cacheFile);
      LogAbandoned(url_, *delegate_);
      Log("download %s: could not be aborted, the run ends here", url_);
      FlushRunLog();  // the main thread waits inside the download call
      platform::EndProcessNow();
      return;  // only where the platform could not end it
    }
  }
}
