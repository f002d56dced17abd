#include "download/watchdog.h"

#include "download/download.h"
#include "platform/platform.h"
#include "shared/log.h"

WatchVerdict JudgeTransfer(unsigned long now, unsigned long lastLife, int abortable, int aborted,
                           unsigned long abortedAt) {
  if (aborted) return now - abortedAt >= kAbortGraceMs ? kEndProcess : kKeepWaiting;
  if (now - lastLife < kStallLimitMs) return kKeepWaiting;
  return abortable ? kAbortTransfer : kEndProcess;
}

namespace {

// The watch thread touches only the delegate's watch fields (read: lastLife,
// progressSeen, binding; written: stalled), the binding's Abort, and at the
// very end the download's file, its cache entry and the log (the main thread
// waits inside the download call then) before the process ends.
void WatchLoop(void* context) {
  TransferWatchdog* watchdog = static_cast<TransferWatchdog*>(context);
  watchdog->Watch();
}

}  // namespace

TransferWatchdog::TransferWatchdog(DownLoadDelegate* delegate, const char* url, const char* path)
    : delegate_(delegate), url_(url), path_(path), stop_(platform::NewEvent()), thread_(nullptr) {
  delegate_->lastLife = platform::TickCount();
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
    unsigned long now = platform::TickCount();
    void* binding = delegate_->binding;
    WatchVerdict verdict = JudgeTransfer(now, delegate_->lastLife, binding && delegate_->progressSeen, aborted_,
                                         abortedAt_);
    if (verdict == kAbortTransfer) {
      delegate_->stalled = 1;
      aborted_ = 1;
      abortedAt_ = now;
      platform::AbortBinding(binding);
    } else if (verdict == kEndProcess) {
      // Nothing else ends the call: leave no partial file or cached copy.
      delegate_->stalled = 1;
      platform::RemoveFile(path_);
      platform::DeleteCacheEntry(url_);
      Log("download %s: stalled, could not be aborted, the run ends here", url_);
      FlushRunLog();  // the main thread waits inside the download call
      platform::EndProcessNow();
      return;  // only where the platform could not end it
    }
  }
}
