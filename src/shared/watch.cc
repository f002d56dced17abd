#include "shared/watch.h"

#include <stdint.h>

#include "shared/log.h"

namespace {

void WatchThread(void* context) { static_cast<Watch*>(context)->Run(); }

}  // namespace

unsigned long Elapsed(unsigned long now, unsigned long then) {
  uint32_t difference = static_cast<uint32_t>(now - then);
  return difference > 0x7FFFFFFFu ? 0 : difference;
}

Watch::Watch(WatchOwner* owner, unsigned long intervalMs)
    : owner_(owner), interval_(intervalMs), stop_(platform::NewEvent()) {
  if (stop_) thread_ = platform::StartThread(WatchThread, this);
}

Watch::~Watch() { Stop(); }

int Watch::Stop() {
  if (thread_) {
    platform::SignalEvent(stop_);
    platform::JoinThread(thread_);
    thread_.Reset();
  }
  return Expired();
}

int Watch::Expired() const { return __atomic_load_n(&expired_, __ATOMIC_ACQUIRE) != 0; }

int Watch::WaitStopped(unsigned long milliseconds) { return platform::WaitEvent(stop_, milliseconds); }

void Watch::Run() {
  unsigned long expiredAt = 0;
  unsigned long wait = interval_;
  while (!platform::WaitEvent(stop_, wait)) {
    unsigned long now = platform::TickCount();
    WatchVerdict verdict = !Expired()                              ? owner_->Judge(now)
                           : Elapsed(now, expiredAt) >= kWatchGraceMs ? kEndNow
                                                                    : kKeepWaiting;
    if (verdict == kExpire) {
      // Marked before the close: the main thread, woken by it, finds it set.
      __atomic_store_n(&expired_, 1, __ATOMIC_RELEASE);
      expiredAt = now;
      owner_->Expire();
    } else if (verdict == kEndNow) {
      if (!owner_->Abandon(this)) return;  // the call returned: its caller cleans up
      // The main thread is blocked in the call; the log is taken for good,
      // or skipped when it cannot be taken in time.
      if (SeizeRunLog()) {
        owner_->LogEnd();
        FlushRunLog();
      }
      platform::EndProcessNow();
      return;  // only where the platform could not end it
    }
    if (Expired()) {
      unsigned long left = kWatchGraceMs - Elapsed(platform::TickCount(), expiredAt);
      wait = left > kWatchGraceMs ? 0 : left < interval_ ? left : interval_;
    }
  }
}
