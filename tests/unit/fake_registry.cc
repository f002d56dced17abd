// The fake platform: registry and version resources.
#include "fake_internal.h"

#include <string.h>

#include <algorithm>

namespace platform {

int RandomBytes(void* buffer, unsigned long size) {
  Record("RandomBytes");
  if (!gFake->randomWorks) return 0;
  memset(buffer, 0, size);
  memcpy(buffer, &gFake->random, std::min<unsigned long>(size, 4));
  return 1;
}

RegKey OpenOrCreateUserKey(const wchar_t* subKey) {
  Record("OpenKey " + Narrow(subKey));
  return RegKey(gFake->keyAvailable ? reinterpret_cast<void*>(0x55) : nullptr);
}

long QueryValue(const RegKey&, const char* name, unsigned long* type, unsigned char* data, unsigned long* size) {
  Record(std::string("QueryValue ") + name);
  auto value = gFake->values.find(name);
  if (value == gFake->values.end()) return 2;  // ERROR_FILE_NOT_FOUND
  *type = value->second.type;
  unsigned long room = *size;
  *size = static_cast<unsigned long>(value->second.data.size());
  if (value->second.data.size() > room) return 234;  // ERROR_MORE_DATA
  memcpy(data, value->second.data.data(), value->second.data.size());
  return 0;
}

long SetDwordValue(const RegKey&, const wchar_t* name, unsigned long value) {
  Record("SetDword " + Narrow(name) + "=" + std::to_string(value));
  if (!gFake->valuesWritable) return 5;
  uint32_t data = static_cast<uint32_t>(value);
  gFake->values[Narrow(name)] = {kRegDword, std::string(reinterpret_cast<const char*>(&data), 4)};
  return 0;
}

long SetStringValue(const RegKey&, const char* name, const char* text) {
  Record(std::string("SetString ") + name + "=" + text);
  gFake->values[name] = {kRegSz, std::string(text, strlen(text) + 1)};
  return 0;
}

void CloseRegKey(void*) {
  if (gFake) Record("CloseKey");
}

// The block is the fake's own, freed by its Release like the platform's.
VersionBlock ReadVersionInfo(const char* path) {
  Record(std::string("VersionInfoSize ") + path);
  if (!gFake->hasVersion || !gFake->files.count(path)) return VersionBlock();
  return VersionBlock(new char[1024]());
}

void FreeVersionBlock(void* raw) { delete[] static_cast<char*>(raw); }

int FixedFileVersion(const VersionBlock&, unsigned long* mostSignificant, unsigned long* leastSignificant) {
  *mostSignificant = gFake->versionMost;
  *leastSignificant = gFake->versionLeast;
  return 1;
}

}  // namespace platform
