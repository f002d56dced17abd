// The driver's outcome reports: which are due in this run, when they go, and
// what the client keeps of them (updateStarted, updateReported). A report
// never delays what the user sees, and none follows a started installer.
#pragma once

#include "offer/offer.h"
#include "platform/platform.h"

// Nothing held, reports off: the state of a run before its manifest.
void ResetRunReports();

// After the decision: reports on or off for this run; an installer started by
// an earlier run is judged now (updated or not-applied) and held until the
// next send; an expired genuine feed is said. With reports off, the earlier
// start is forgotten at once.
void PrepareReports(const UpdateDecision& decision, const UpdateManifest& read, const ClientFacts& client);

// An outcome of this run ("declined", "failed", "start-failed"), sent with
// whatever is held.
void ReportOutcome(const char* event, const char* code);
// Sends what is held: at the end of a run without a prompt, after the
// prompt's answer, and before an installer starts.
void SendHeldReports();
// The installer is about to start for `version` (kept as updateStarted); a
// failed start forgets it again and reports `error`.
void NoteInstallerStart(const char* version);
void NoteStartFailed(unsigned error);
