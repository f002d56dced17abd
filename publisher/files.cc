// Reading and writing whole files.
#include <stdio.h>
#include <sys/stat.h>

#include "publisher.h"

bool ReadWhole(const std::string& path, std::string* data) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  char chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) data->append(chunk, n);
  fclose(file);
  return true;
}

bool MakeDirectories(const std::string& path) {
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    mkdir(path.substr(0, at).c_str(), 0755);  // every folder on the way, then the last
    if (at == std::string::npos) break;
  }
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteFile(const std::string& path, const std::string& data) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = fwrite(data.data(), 1, data.size(), file) == data.size();
  return fclose(file) == 0 && ok;
}
