// Appends time-stamped lines to a log file the tests read.
#pragma once
#include <windows.h>
#include <stdio.h>

inline long long UnixMilliseconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER ticks;
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = now.dwHighDateTime;
  return static_cast<long long>((ticks.QuadPart - 116444736000000000ULL) / 10000);
}

inline void AppendLog(const wchar_t* path, const char* event) {
  FILE* log = _wfopen(path, L"ab");
  if (!log) return;
  fprintf(log, "%s %lld\n", event, UnixMilliseconds());
  fclose(log);
}
