// The registry (HKEY_CURRENT_USER) and version resources: advapi32, version.dll.
#include "platform/win_internal.h"

namespace platform {

// RtlGenRandom is exported by advapi32 as SystemFunction036 (XP and later),
// declared by no header the XP target sees.
int RandomBytes(void* buffer, unsigned long size) {
  typedef BOOLEAN(WINAPI * GenRandom)(PVOID, ULONG);
  HMODULE advapi = ::GetModuleHandleW(L"advapi32.dll");
  GenRandom generate = reinterpret_cast<GenRandom>(
      reinterpret_cast<void*>(advapi ? ::GetProcAddress(advapi, "SystemFunction036") : nullptr));
  return generate && generate(buffer, size);
}

void CloseRegKey(void* raw) { ::RegCloseKey(static_cast<HKEY>(raw)); }

RegKey OpenOrCreateUserKey(const wchar_t* subKey) {
  HKEY key = nullptr;
  LONG status = ::RegCreateKeyExW(HKEY_CURRENT_USER, subKey, /*Reserved=*/0, /*lpClass=*/nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                                  /*lpSecurityAttributes=*/nullptr, &key, /*lpdwDisposition=*/nullptr);
  return RegKey(status == ERROR_SUCCESS ? key : nullptr);
}

long QueryValue(const RegKey& key, const char* name, unsigned long* type, unsigned char* data, unsigned long* size) {
  DWORD valueType = 0;
  DWORD valueSize = *size;
  LONG status = ::RegQueryValueExA(static_cast<HKEY>(key.Get()), name, nullptr, &valueType, data, &valueSize);
  *type = valueType;
  *size = valueSize;
  return status;
}

long SetDwordValue(const RegKey& key, const wchar_t* name, unsigned long value) {
  DWORD data = value;
  return ::RegSetValueExW(static_cast<HKEY>(key.Get()), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof data);
}

long SetStringValue(const RegKey& key, const char* name, const char* text) {
  return ::RegSetValueExA(static_cast<HKEY>(key.Get()), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(lstrlenA(text) + 1));
}

void FreeVersionBlock(void* raw) { ::HeapFree(::GetProcessHeap(), 0, raw); }

VersionBlock ReadVersionInfo(const char* path) {
  DWORD handle = 0;
  DWORD size = ::GetFileVersionInfoSizeA(path, &handle);
  if (size == 0) return VersionBlock();  // missing file or no version resource
  VersionBlock block(::HeapAlloc(::GetProcessHeap(), 0, size + 1));
  if (block && !::GetFileVersionInfoA(path, 0, size, block.Get())) block.Reset();
  return block;
}

int FixedFileVersion(const VersionBlock& block, unsigned long* mostSignificant, unsigned long* leastSignificant) {
  void* value = nullptr;
  UINT length = 0;
  char root[] = "\\";
  if (!::VerQueryValueA(block.Get(), root, &value, &length) || !value || length < sizeof(VS_FIXEDFILEINFO)) return 0;
  const VS_FIXEDFILEINFO* info = static_cast<const VS_FIXEDFILEINFO*>(value);
  *mostSignificant = info->dwFileVersionMS;
  *leastSignificant = info->dwFileVersionLS;
  return 1;
}

}  // namespace platform
