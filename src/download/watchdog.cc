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
// progressSeen, abandoned, binding; written: stalled), the binding's Abort, and at the
// very end the download's file, its cache entry and the log (the main thread
// waits inside the download call then) before the process ends.
void WatchLoop(void* context) {
  TransferWatchdog* watchdog = static_cast<TransferWatchdog*>(context);
  watchdog->Watch();
}

}  // namespace

TransferWatchdog::TransferWatchdog(DownLoadDelegate* delegate, const char* url, const char* path)
    : delegate_(delegate), url_(url), path_(path), stop_(platform::NewEvent()), thread_(nullptr) {
  delegate_->lastGain = platform::TickCount();
  if (stop_) thread_ = platform::StartThread(WatchLoop, this);
}

TransferWatchdog::~TransferWatchdog() {
  if (thread_) {
    platform::SignalEvent(stop_);
    platform::JoinThread(thread_);
  }
  if (stop_) platform::CloseEvent(stop_);
}

void TransferWatchdog::Watch() {
  while (!platform::WaitEvent(stop_, kWatchIntervalMs)) {
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
      // Nothing else ends the call: leave no partial file or cached copy.
      if (!abandoned) delegate_->stalled = 1;
      platform::RemoveFile(path_);
      platform::DeleteCacheEntry(url_);
      Log("download %s: given up, could not be aborted, the run ends here", url_);
      FlushRunLog();  // the main thread waits inside the download call
      platform::EndProcessNow();
      return;  // only where the platform could not end it
    }
  }
}
