// Bounds a blocking call that has no timeout of its own. A watch thread waits
// for the deadline; should the call outlive it, the thread runs `expire` once
// (which closes what the call waits on, ending it), and should the call still
// not return within the grace, it ends the process. The thread touches only
// what `expire` touches and, before ending the process, the run's log (the
// main thread is blocked in the call then).
#pragma once

#include "shared/limits.h"

// After `expire`, the call must return within this, or the process ends.
const unsigned long kDeadlineGraceMs = UPDATER_ABORT_GRACE_MS;

class Deadline {
 public:
  Deadline(unsigned long milliseconds, void (*expire)(void* context), void* context, const char* what);
  ~Deadline();  // Stop()s

  // Ends the watch and waits for its thread; 1 when the deadline had passed
  // and `expire` ran. Call it as soon as the call returned.
  int Stop();

  void Watch();  // the watch thread's work

 private:
  unsigned long milliseconds_;
  void (*expire_)(void*);
  void* context_;
  const char* what_;
  void* stop_;    // platform::Event
  void* thread_;  // platform::Thread
  volatile long expired_ = 0;
};
