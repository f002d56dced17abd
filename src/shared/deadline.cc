#include "shared/deadline.h"

#include "platform/platform.h"
#include "shared/log.h"

namespace {

void WatchThread(void* context) { static_cast<Deadline*>(context)->Watch(); }

}  // namespace

Deadline::Deadline(unsigned long milliseconds, void (*expire)(void* context), void* context, const char* what)
    : milliseconds_(milliseconds), expire_(expire), context_(context), what_(what), stop_(platform::NewEvent()),
      thread_(nullptr) {
  if (stop_) thread_ = platform::StartThread(WatchThread, this);
}

Deadline::~Deadline() {
  Stop();
  if (stop_) platform::CloseEvent(stop_);
  stop_ = nullptr;
}

int Deadline::Stop() {
  if (thread_) {
    platform::SignalEvent(stop_);
    platform::JoinThread(thread_);
    thread_ = nullptr;
  }
  return expired_ != 0;
}

void Deadline::Watch() {
  if (platform::WaitEvent(stop_, milliseconds_)) return;
  expired_ = 1;
  Log("%s: the request passed its deadline of %lu ms and is closed", what_, milliseconds_);
  expire_(context_);
  if (platform::WaitEvent(stop_, kDeadlineGraceMs)) return;
  Log("%s: still blocked %lu ms after its deadline, the run ends here", what_, kDeadlineGraceMs);
  FlushRunLog();
  platform::EndProcessNow();
}
