// Keeps the content file in the work directory current and records each
// refresh in the host application's registry key.
#pragma once

// Downloads the content file when it is due and, once it arrived whole,
// replaces the old one and writes the record.
void RefreshContentIfNeeded();

// 1 when the content file must be fetched again.
int NeedsContentRefresh();

// Writes swfUpdate = 1 and swfUpdateTime = the local time.
void RecordContentRefresh();
