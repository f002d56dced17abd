// The application upgrade: prompt, progress window, installer download and
// the hand-over to the installer.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

const int kProgressTemplateId = 129;
const int kCancelId = 2;
const int kStatusLineId = 1001;

// 1 when the user accepted (or, for a forced upgrade, acknowledged).
int PromptForUpgrade();

// Closes the host application, waits a second when it was running, and starts
// the installer.
void HandOverToInstaller();

// Creates, places and shows the progress window; its handle goes to
// gRunState.progressWindow (null when it could not be created).
void ShowProgressWindow();
intptr_t ProgressDialogProc(platform::Window window, unsigned message, uintptr_t wParam, intptr_t lParam);

// Downloads the installer under the progress window; 1 when a whole
// executable arrived.
int DownloadInstaller();
