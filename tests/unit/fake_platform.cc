#include "fake_internal.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <mutex>


FakePlatform* gFake = nullptr;

platform::Window FakeWindow(uintptr_t n) { return reinterpret_cast<platform::Window>(n); }

namespace fake {

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
  return out;
}

namespace {
std::mutex gRecording;  // the watch thread records too
}  // namespace

void Record(const std::string& call) {
  std::lock_guard<std::mutex> guard(gRecording);
  gFake->calls.push_back(call);
}

void* NewHandle() {
  static uintptr_t next = 0x7000;
  return reinterpret_cast<void*>(++next);
}

// UTF-8 to wide (the fake's paths are written in UTF-8).
std::wstring Widen(const std::string& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    wchar_t code = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < text.size(); ++k) code = (code << 6) | (text[i + k] & 0x3F);
    out += code;
    i += 1 + extra;
  }
  return out;
}

}  // namespace fake

std::string FakeSha256Hex(const std::string& data) {
  // Not SHA-256: a stand-in with the same shape, distinct for distinct data.
  std::string hex;
  for (unsigned seed = 0; seed < 4; ++seed) {
    unsigned long long h = 1469598103934665603ull ^ seed;
    for (unsigned char c : data) h = (h ^ c) * 1099511628211ull;
    char part[17];
    snprintf(part, sizeof part, "%016llx", h);
    hex += part;
  }
  return hex;
}

FakePlatform::FakePlatform() { gFake = this; }
FakePlatform::~FakePlatform() { gFake = nullptr; }

FakePlatform& FakePlatform::ServeManifest(const std::string& body) {
  lengthText = std::wstring(std::to_wstring(body.size()));
  pieces = {body};
  return *this;
}

FakePlatform& FakePlatform::ServeDownload(const std::string& address, const std::string& bytes) {
  FakeDownload download;
  download.bytes = bytes;
  downloads[address] = download;
  return *this;
}

FakePlatform& FakePlatform::InstalledVersion(unsigned a, unsigned b, unsigned c, unsigned d) {
  hasVersion = true;
  versionMost = (a << 16) | b;
  versionLeast = (c << 16) | d;
  return *this;
}

bool FakePlatform::RenameFolder(const std::string& path) {
  for (auto& open : openFiles) {
    if (open.second == path) return false;
  }
  return dirs.erase(path) > 0;
}

bool FakePlatform::Called(const std::string& prefix) const { return IndexOf(prefix) >= 0; }

int FakePlatform::IndexOf(const std::string& prefix) const {
  std::lock_guard<std::mutex> guard(fake::gRecording);
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
  }
  return -1;
}

