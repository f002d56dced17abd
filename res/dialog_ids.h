// Ids of the progress window and its controls, shared by the resource script
// and the code. Plain numbers: the resource compiler reads this file too.
#pragma once

#define UPDATER_PROGRESS_DIALOG 129
#define UPDATER_CANCEL_BUTTON 2
#define UPDATER_PROGRESS_BAR 1000
#define UPDATER_STATUS_LINE 1001
