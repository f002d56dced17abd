// The limits of a run in one place: times in milliseconds (_MS), sizes in
// bytes (_BYTES). Each is a plain #define of a whole number, one to a line and
// nothing else: the end-to-end tests read this file as text to wait exactly as
// long as the program may, and refuse it when a line takes another form. The
// download ceilings are the build's (UPDATER_MAX_CONTENT_MB,
// UPDATER_MAX_INSTALLER_MB in CMake).
#pragma once

// The manifest request: connect, send and receive timeout of each step.
#define UPDATER_MANIFEST_TIMEOUT_MS 10000
// The manifest request: the whole body must have arrived by then.
#define UPDATER_MANIFEST_DEADLINE_MS 30000
// A download that gains less than the rate floor within this long is
// abandoned; one that receives nothing at all is the special case.
#define UPDATER_STALL_LIMIT_MS 60000
#define UPDATER_RATE_FLOOR_BYTES 1024
// The first pause before the rest of a download is asked for again, when the
// last request gained nothing; each next pause doubles.
#define UPDATER_RESUME_PAUSE_MS 1000
// Room a download of announced length must leave free on the work folder's volume.
#define UPDATER_DISK_RESERVE_BYTES 16777216
// After an abort the download call must return within this, or the process ends.
#define UPDATER_ABORT_GRACE_MS 10000
// How often the download watchdog looks.
#define UPDATER_WATCH_INTERVAL_MS 500
// The hand-over: how long the host may take to handle WM_CLOSE, how long its
// process may take to end after it, and the least pause before the installer.
#define UPDATER_CLOSE_SEND_LIMIT_MS 10000
#define UPDATER_HOST_EXIT_LIMIT_MS 15000
#define UPDATER_HAND_OVER_PAUSE_MS 1000
// An outcome report: the whole request, from the connection to the status line.
#define UPDATER_REPORT_DEADLINE_MS 5000
