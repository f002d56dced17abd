// The run's log, update.log in the work folder, for the people who support
// Orvessa's users: one event a line, local time first, numbers rather than
// prose. Writing it never changes the run: a log that cannot be written is
// skipped, and each line is appended with the file opened and closed around
// it, so that it can be read while a run goes on.
#pragma once

// The log's size at which a run starts a new one: the old one becomes
// update.log.1 (replacing the one before), so the two hold about twice this.
const unsigned long kLogCap = 64 * 1024;

// Starts the log for this run in gWorkPaths.workDir; rotates it when over the cap.
void StartRunLog();

// Appends one line, printf-style (msvcrt: %lu, %d, %s, %08lX), prefixed with
// the local time "YYYY-MM-DD HH:MM:SS ". Nothing before StartRunLog.
void Log(const char* format, ...);
