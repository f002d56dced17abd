// The application upgrade: prompt, progress window, installer download and
// the hand-over to the installer.
#pragma once

#include <stdint.h>

#include "dialog_ids.h"
#include "platform/platform.h"
#include "shared/limits.h"

const int kProgressTemplateId = UPDATER_PROGRESS_DIALOG;
const int kCancelId = UPDATER_CANCEL_BUTTON;
const int kStatusLineId = UPDATER_STATUS_LINE;
const int kProgressBarId = UPDATER_PROGRESS_BAR;

// The hand-over: how long the host may take to handle WM_CLOSE, how long its
// process may take to end after it, and the least pause before the installer
// starts.
const unsigned long kCloseSendLimitMs = UPDATER_CLOSE_SEND_LIMIT_MS;
const unsigned long kHostExitLimitMs = UPDATER_HOST_EXIT_LIMIT_MS;
const unsigned long kHandOverPauseMs = UPDATER_HAND_OVER_PAUSE_MS;

// 1 when the user accepted (or, for a forced upgrade, acknowledged).
int PromptForUpgrade();

// Closes the host application, waits for its process to end (at least a
// second, at most kHostExitLimitMs) when it was running, and starts the
// installer. When the installer does not start, a host this closed is
// started again. 0 when it started, else the Windows error (or, without
// one, ShellExecute's answer).
unsigned HandOverToInstaller();

// Creates, places and shows the progress window; its handle goes to
// gRunState.progressWindow (null when it could not be created).
void ShowProgressWindow();
intptr_t ProgressDialogProc(platform::Window window, unsigned message, uintptr_t wParam, intptr_t lParam);

// The installer as setup.exe, held open: the trusted one an earlier run kept
// when it did not start, when it belongs to this offer; otherwise downloaded
// under the progress window, resumed from bytes an earlier run kept. Null
// with why in `failure` (a report's token).
platform::File ObtainInstaller(char* failure, size_t capacity);
// After a failed start: the whole, trusted setup.exe is kept for the next
// offer of the same version.
void KeepTrustedInstaller();
