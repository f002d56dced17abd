// The deadline of a WinINet request that has no bound of its own: a watch
// (shared/watch.h) whose first look is at the deadline closes the request's
// session, and with it every handle the blocked call waits on.
#pragma once

#include "platform/platform.h"
#include "shared/log.h"
#include "shared/watch.h"

class SessionDeadline : public WatchOwner {
 public:
  SessionDeadline(const platform::Internet& session, const char* what, unsigned long milliseconds)
      : session_(session.Get()), what_(what), milliseconds_(milliseconds) {}
  WatchVerdict Judge(unsigned long) override { return kExpire; }
  void Expire() override { platform::CloseInternetHandle(session_); }
  void LogEnd() override {
    LogPassed();
    Log("%s: still blocked %lu ms after its deadline, the run ends here", what_, kWatchGraceMs);
  }
  // For the main thread once the watch has stopped.
  void LogPassed() const {
    Log("%s: the request passed its deadline of %lu ms and is closed", what_, milliseconds_);
  }

 private:
  void* const session_;
  const char* const what_;
  const unsigned long milliseconds_;
};
