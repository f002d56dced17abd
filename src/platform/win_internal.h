// What the Win32 side of the platform wrappers shares between its files.
#pragma once

#include <windows.h>

#include "platform/platform.h"

namespace platform {

inline HWND Hwnd(Window window) { return reinterpret_cast<HWND>(window); }
inline Window AsWindow(HWND window) { return reinterpret_cast<Window>(window); }

// Loads a DLL by its full path in the system folder: never one planted in the
// program's or the current folder. Null when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name);

}  // namespace platform
