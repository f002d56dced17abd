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

}  // namespace

void StartRunLog() {
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
  const size_t room = sizeof line - 2;  // the line end always fits
  va_list arguments;
  va_start(arguments, format);
  int written = FormatText(line + length, room - length, format, arguments);
  va_end(arguments);
  size_t end = written < 0 || static_cast<size_t>(written) >= room - length ? room - 1 : length + written;
  line[end] = '\r';
  line[end + 1] = '\n';
  size_t size = end + 2;  // at most sizeof line, far below kLogPending
  if (!gPending) {
    platform::AppendToFile(gWorkPaths.logPath, line, static_cast<unsigned long>(size));
    return;
  }
  if (gPendingSize + size > kLogPending) FlushRunLog();
  memcpy(gPending + gPendingSize, line, size);
  gPendingSize += size;
}

void FlushRunLog() {
  if (gPendingSize == 0 || !gWorkPaths.logPath[0]) return;
  platform::AppendToFile(gWorkPaths.logPath, gPending, static_cast<unsigned long>(gPendingSize));
  gPendingSize = 0;  // written or not: a log that cannot be written is skipped
}
