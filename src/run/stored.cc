#include "run/stored.h"

int ReadStoredDword(const platform::RegKey& key, const char* name, unsigned long* value) {
  unsigned long type = 0, size = 4;
  unsigned char data[4] = {};
  if (platform::QueryValue(key, name, &type, data, &size) != 0 || type != platform::kRegDword || size != 4) return 0;
  *value = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<unsigned long>(data[3]) << 24);
  return 1;
}

void ReadStoredText(const platform::RegKey& key, const char* name, char* out, unsigned long capacity) {
  unsigned long type = 0, size = capacity;
  if (platform::QueryValue(key, name, &type, reinterpret_cast<unsigned char*>(out), &size) != 0 ||
      type != platform::kRegSz || size == 0 || size > capacity || out[size - 1] != '\0') {
    out[0] = '\0';
  }
}
