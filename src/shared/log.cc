#include "shared/log.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "outside/outside.h"
#include "platform/platform.h"
#include "shared/text.h"
#include "shared/work_paths.h"

#ifdef _WIN32
#define FormatText _vsnprintf  // every msvcrt has it; a cut text is terminated below
#else
#define FormatText vsnprintf
#endif

namespace {

// Lines not yet written; from the heap, which costs the binary nothing. Without
// it each line is written on its own.
char* gPending;
size_t gPendingSize;
// Shared by the main thread and a watch's last act; taken again by its holder.
platform::Mutex gLock;

// Holds the log's lock for one writer; `held` tells whether it was had in time.
struct LogLock {
  LogLock() : held(!gLock || platform::TakeLock(gLock, kLogLockWaitMs)) {}
  ~LogLock() {
    if (held && gLock) platform::GiveLock(gLock);
  }
  const bool held;
};

void FlushHeld() {
  if (gPendingSize == 0 || !gWorkPaths.logPath[0]) return;
  platform::AppendToFile(gWorkPaths.logPath, gPending, static_cast<unsigned long>(gPendingSize));
  gPendingSize = 0;  // written or not: a log that cannot be written is skipped
}

}  // namespace

void StartRunLog() {
  gLock = platform::NewLock();  // before any watch can start
  if (!gPending) gPending = static_cast<char*>(malloc(kLogPending));
  gPendingSize = 0;
  char* logPath = gWorkPaths.logPath;
  if (!JoinText(logPath, sizeof gWorkPaths.logPath, gWorkPaths.workDir, outside::kLogName)) return;
  char oldPath[platform::kMaxPath];
  if (platform::PathFileSize(logPath) > static_cast<long long>(kLogCap) &&
      JoinText(oldPath, sizeof oldPath, gWorkPaths.workDir, outside::kOldLogName)) {
    platform::MoveReplacing(logPath, oldPath);
  }
}

void Log(const char* format, ...) {
  if (!gWorkPaths.logPath[0]) return;
  char line[768];
  platform::LocalTime now = platform::CurrentLocalTime();
  int length = snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d ", now.year, now.month, now.day, now.hour,
                        now.minute, now.second);
  if (length < 0 || length >= static_cast<int>(sizeof line)) return;
  char event[sizeof line];
  va_list arguments;
  va_start(arguments, format);
  FormatText(event, sizeof event, format, arguments);
  va_end(arguments);
  event[sizeof event - 1] = '\0';  // a cut text is left unterminated by msvcrt
  // One event, one line: a control byte from outside (a manifest value, a
  // header) is written as \xNN, so that nothing it holds can start a line.
  static const char kHex[] = "0123456789ABCDEF";
  const size_t room = sizeof line - 2;  // the line end always fits
  size_t end = static_cast<size_t>(length);
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(event); *c; ++c) {
    bool control = *c < 0x20 || *c == 0x7F;
    if (end + (control ? 4 : 1) > room) break;
    if (control) {
      line[end++] = '\\';
      line[end++] = 'x';
      line[end++] = kHex[*c >> 4];
      line[end++] = kHex[*c & 0xF];
    } else {
      line[end++] = static_cast<char>(*c);
    }
  }
  line[end] = '\r';
  line[end + 1] = '\n';
  size_t size = end + 2;  // at most sizeof line, far below kLogPending
  LogLock lock;
  if (!lock.held) return;
  if (!gPending) {
    platform::AppendToFile(gWorkPaths.logPath, line, static_cast<unsigned long>(size));
    return;
  }
  if (gPendingSize + size > kLogPending) FlushHeld();
  memcpy(gPending + gPendingSize, line, size);
  gPendingSize += size;
}

void FlushRunLog() {
  if (!gWorkPaths.logPath[0]) return;
  LogLock lock;
  if (lock.held) FlushHeld();
}

int SeizeRunLog() { return !gLock || platform::TakeLock(gLock, kLogLockWaitMs); }
