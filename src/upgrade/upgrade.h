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
// started again.
void HandOverToInstaller();

// Creates, places and shows the progress window; its handle goes to
// gRunState.progressWindow (null when it could not be created).
void ShowProgressWindow();
intptr_t ProgressDialogProc(platform::Window window, unsigned message, uintptr_t wParam, intptr_t lParam);

// Downloads the installer under the progress window; 1 when a whole
// executable arrived, which gRunState.installer then holds open.
int DownloadInstaller();
// Lets go of the installer's handle, and of the file itself when `remove`.
void ReleaseInstaller(int remove);
