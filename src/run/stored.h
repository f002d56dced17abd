// The values the client keeps under its registry key, read as the run needs them.
#pragma once

#include "platform/platform.h"

// A REG_DWORD; 0 when it is missing or of another type.
int ReadStoredDword(const platform::RegKey& key, const char* name, unsigned long* value);
// A REG_SZ into `out`; empty when missing, not a string, too long or unterminated.
void ReadStoredText(const platform::RegKey& key, const char* name, char* out, unsigned long capacity);
