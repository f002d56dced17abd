// The run's log, update.log in the work folder, for the people who support
// Orvessa's users: one event a line, local time first, numbers rather than
// prose. Writing it never changes the run: a log that cannot be written is
// skipped. Lines are kept in memory and appended in one write at the end of
// the run, before every wait on the user or the network, and before the
// process is ended early, so that a run with nothing to do opens the file once.
#pragma once

// The log's size at which a run starts a new one: the old one becomes
// update.log.1 (replacing the one before), so the two hold about twice this.
const unsigned long kLogCap = 64 * 1024;
// Lines held before they are written; a fuller run writes more often.
const unsigned long kLogPending = 8 * 1024;

// Starts the log for this run in gWorkPaths.workDir; rotates it when over the cap.
void StartRunLog();

// Appends one line, printf-style (msvcrt: %lu, %d, %s, %08lX), prefixed with
// the local time "YYYY-MM-DD HH:MM:SS ". Nothing before StartRunLog.
void Log(const char* format, ...);

// Writes the lines held so far.
void FlushRunLog();

// Every writer holds the log's lock, waiting at most this for it; a line that
// cannot have it in time is skipped.
const unsigned long kLogLockWaitMs = 2000;

// For a watch that must end the process: takes the log's lock for good (the
// lines this thread writes after it go in without waiting); 0 when it cannot
// be had in time, and nothing may be written then.
int SeizeRunLog();
