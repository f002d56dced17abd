#include "download/watchdog.h"

#include "platform/platform.h"
#include "shared/log.h"

WatchVerdict JudgeTransfer(unsigned long now, unsigned long callStarted, int inCall) {
  return inCall && Elapsed(now, callStarted) >= kStallLimitMs + kWatchGraceMs ? kExpire : kKeepWaiting;
}

// The watch thread reads the delegate's inCall and callStarted, closes the
// session, and just before the process ends removes the file that cannot be
// resumed, and writes the log.
WatchVerdict TransferWatchdog::Judge(unsigned long now) {
  // The flag first, the time after: a call that began in between is judged
  // by its own start.
  int inCall = delegate_->inCall;
  unsigned long started = delegate_->callStarted;
  return JudgeTransfer(now, started, inCall);
}

void TransferWatchdog::Expire() { platform::CloseInternetHandle(session_); }

// Bytes that may be resumed stay for the next run, with their record, written
// when the answer came; any other file goes.
int TransferWatchdog::Abandon(Watch*) {
  if (!recordPath_ || !delegate_->validator[0]) platform::RemoveFile(path_);
  return 1;
}

void TransferWatchdog::LogEnd() {
  Log("download %s: a call outlived its bound of %lu ms and could not be ended, the run ends here", url_,
      kStallLimitMs);
}
