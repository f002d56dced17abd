// Bounds one blocking call that has no bound of its own. A thread of its own
// (the only one the program starts) looks at the call every interval, asks
// its owner for a verdict and, when the owner says so, ends the call through
// the owner; should the call still not return within the grace, it ends the
// process. The watch thread writes no log: the owner's fields and Expired()
// tell the main thread what it did, once the call returned. Only just before
// the process ends does it write, under the log's lock (shared/log.h).
#pragma once

#include "platform/platform.h"
#include "shared/limits.h"

// After the call was ended, it must return within this, or the process ends.
const unsigned long kWatchGraceMs = UPDATER_ABORT_GRACE_MS;

enum WatchVerdict { kKeepWaiting, kExpire, kEndNow };

class Watch;

// What a watch bounds. Every method runs on the watch thread and touches only
// what its owner shares with it.
class WatchOwner {
 public:
  // At each look: keep waiting, end the call (kExpire), or end the process
  // at once (the call cannot be ended).
  virtual WatchVerdict Judge(unsigned long now) = 0;
  // Ends the blocked call: closes or aborts what it waits on.
  virtual void Expire() = 0;
  // The last clean-up before the process ends; it may wait on the watch.
  // 0 when the call returned meanwhile: the process goes on.
  virtual int Abandon(Watch*) { return 1; }
  // The log's last lines; the log is held for this thread then.
  virtual void LogEnd() = 0;

 protected:
  ~WatchOwner() {}
};

class Watch {
 public:
  // Starts watching; the first look comes `intervalMs` from now.
  Watch(WatchOwner* owner, unsigned long intervalMs);
  ~Watch();  // Stop()s

  // Ends the watch and waits for its thread; 1 when it ended the call. Call
  // it as soon as the call returned: from then on the owner is the main
  // thread's alone.
  int Stop();
  // 1 once the watch ended the call: nothing it closed may be used again.
  int Expired() const;
  // On the watch thread: 1 when the watch is stopped within `milliseconds`.
  int WaitStopped(unsigned long milliseconds);

  void Run();  // the watch thread's work

 private:
  WatchOwner* owner_;
  unsigned long interval_;
  platform::Event stop_;
  platform::Thread thread_;
  long expired_ = 0;  // written by the watch thread, read by both (atomic)
};

// Milliseconds from `then` to `now` on the 32-bit tick, across its wrap; 0
// when `then` is later (a time read on another thread, just after the clock).
unsigned long Elapsed(unsigned long now, unsigned long then);
