// What the fake platform's files share.
#pragma once

#include <string>

#include "fake_platform.h"

namespace fake {

// The progress dialog's handle; its controls are this plus their ids.
const uintptr_t kDialog = 0x1000;

// Wide to narrow; a character past ASCII becomes '?' (the fake's code page).
std::string Narrow(const wchar_t* text);
// UTF-8 to wide (the fake's paths are written in UTF-8).
std::wstring Widen(const std::string& text);
void Record(const std::string& call);  // safe from any thread
// A fresh handle value for a file or folder.
void* NewHandle();

// The download under way (fake_download.cc), for the WinINet calls it shares
// with the manifest's requests.
bool IsDownloadRequest(void* handle);
int DownloadStatus();
int DownloadLength(wchar_t* text, unsigned long byteCapacity);
int DownloadUrl(char* url, unsigned long capacity);
long DownloadRead(void* buffer, unsigned long size);  // -1: the read fails

}  // namespace fake

using fake::kDialog;
using fake::Narrow;
using fake::Record;
using fake::Widen;
