// The fake platform: files and folders.
#include "fake_internal.h"

#include <wchar.h>
#include <string.h>

#include <algorithm>

namespace platform {

unsigned long ModuleFileName(wchar_t* buffer, unsigned long capacity) {
  Record("ModuleFileName");
  std::wstring path = Widen(gFake->modulePath);
  // Like Windows: a path that does not fit is cut to the buffer and the
  // answer is the buffer size.
  size_t count = std::min<size_t>(path.size(), capacity);
  wmemcpy(buffer, path.data(), count);
  if (count < capacity) buffer[count] = L'\0';
  return static_cast<unsigned long>(count);
}

unsigned long TempDirectory(wchar_t* buffer, unsigned long capacity) {
  Record("TempDirectory");
  std::wstring path = Widen(gFake->tempDir);
  if (gFake->tempAnswer >= 0) return static_cast<unsigned long>(gFake->tempAnswer);
  if (path.size() + 1 > capacity) return static_cast<unsigned long>(path.size() + 1);
  wmemcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<unsigned long>(path.size());
}

unsigned long ShortPathName(const wchar_t* path, wchar_t* buffer, unsigned long capacity) {
  auto found = gFake->shortNames.find(path);
  if (found == gFake->shortNames.end()) return 0;
  const std::wstring& name = found->second;
  if (name.size() + 1 > capacity) return static_cast<unsigned long>(name.size() + 1);
  wmemcpy(buffer, name.c_str(), name.size() + 1);
  return static_cast<unsigned long>(name.size());
}

// The fake's code page holds ASCII only.
int NarrowToAnsi(const wchar_t* text, char* buffer, unsigned long capacity, int* lossy) {
  std::string narrow = Narrow(text);
  *lossy = narrow.find('?') != std::string::npos && std::wstring(text).find(L'?') == std::wstring::npos;
  if (narrow.size() + 1 > capacity) return 0;
  memcpy(buffer, narrow.c_str(), narrow.size() + 1);
  return 1;
}

int MakeDirectory(const char* path) {
  Record(std::string("MakeDirectory ") + path);
  if (gFake->failMakeDirectory) {
    gFake->lastError = gFake->makeDirectoryError;
    return 0;
  }
  std::string asFile(path);
  if (!asFile.empty() && asFile.back() == '\\') asFile.pop_back();
  if (gFake->dirs.count(path) || gFake->files.count(asFile)) {  // a folder or a file of that name
    gFake->lastError = kErrorAlreadyExists;
    return 0;
  }
  gFake->dirs.insert(path);
  return 1;
}

unsigned LastError() { return gFake->lastError; }

void RestrictDllSearch() { Record("RestrictDllSearch"); }

File OpenFolder(const char* path) {
  Record(std::string("OpenFolder ") + path);
  if (!gFake->dirs.count(path)) return File();
  void* folder = fake::NewHandle();
  gFake->openFiles[folder] = path;
  return File(folder);
}

int IsFolder(const char* path) { return gFake->dirs.count(path) > 0; }

int FolderIsReparsePoint(const File& folder) { return gFake->reparsePoints.count(gFake->openFiles[folder.Get()]) > 0; }

int FolderOwnerTrusted(const File& folder, const char* path) {
  Record(std::string("FolderOwnerTrusted ") + path);
  if (gFake->ownerlessVolume) return -1;
  return gFake->foreignOwned.count(gFake->openFiles[folder.Get()]) == 0;
}

int RemoveFile(const char* path) {
  Record(std::string("RemoveFile ") + path);
  if (gFake->locked.count(path)) return 0;
  for (auto& open : gFake->openFiles) {
    if (open.second == path) return 0;  // held open, shared for reading only
  }
  return gFake->files.erase(path) > 0;
}

int MoveReplacing(const char* from, const char* to) {
  Record(std::string("MoveReplacing ") + from + " -> " + to);
  for (auto& open : gFake->openFiles) {
    if (open.second == from || open.second == to) return 0;
  }
  if (gFake->locked.count(to) || !gFake->files.count(from)) return 0;
  gFake->files[to] = gFake->files[from];
  gFake->files.erase(from);
  return 1;
}

File OpenForReading(const char* path) {
  Record(std::string("OpenForReading ") + path);
  if (!gFake->files.count(path) || gFake->locked.count(path)) return File();
  void* file = fake::NewHandle();
  gFake->openFiles[file] = path;
  return File(file);
}

void CloseFileHandle(void* raw) {
  if (!gFake) return;
  Record("CloseFile");
  gFake->openFiles.erase(raw);
}

long long FreeDiskBytes(const char* folder) {
  Record(std::string("FreeDiskBytes ") + folder);
  return gFake->freeBytes;
}

long long PathFileSize(const char* path) {
  auto file = gFake->files.find(path);
  return file == gFake->files.end() ? -1 : static_cast<long long>(file->second.size());
}

int AppendToFile(const char* path, const char* data, unsigned long size) {
  if (gFake->locked.count(path)) return 0;
  gFake->files[path].append(data, size);
  return 1;
}

File OpenForWriting(const char* path, int append) {
  Record(std::string(append ? "OpenForAppending " : "OpenForWriting ") + path);
  if (gFake->locked.count(path) || gFake->failWrites) return File();
  if (!append || !gFake->files.count(path)) gFake->files[path] = "";
  void* file = fake::NewHandle();
  gFake->openFiles[file] = path;
  return File(file);
}

int WriteToFile(const File& file, const void* data, unsigned long size) {
  auto open = gFake->openFiles.find(file.Get());
  if (open == gFake->openFiles.end()) return 0;
  gFake->files[open->second].append(static_cast<const char*>(data), size);
  return 1;
}

long long OpenFileSize(const File& file) {
  auto open = gFake->openFiles.find(file.Get());
  if (open == gFake->openFiles.end() || !gFake->files.count(open->second)) return -1;
  return static_cast<long long>(gFake->files[open->second].size());
}

long ReadFileAt(const File& file, unsigned long long offset, unsigned char* buffer, unsigned long capacity) {
  auto open = gFake->openFiles.find(file.Get());
  if (open == gFake->openFiles.end() || !gFake->files.count(open->second)) return -1;
  const std::string& data = gFake->files[open->second];
  if (offset > data.size()) return 0;
  size_t count = std::min<size_t>(capacity, data.size() - offset);
  memcpy(buffer, data.data() + offset, count);
  return static_cast<long>(count);
}

}  // namespace platform
