#include "shared/work_paths.h"

#include <string.h>

#include "outside/outside.h"
#include "shared/text.h"

WorkPaths gWorkPaths;

namespace {

// A directory serves as work directory only when every file kept in it fits
// the fixed path buffers; a path is never cut into a different one.
int UseWorkDir(const char* parent, const char* name) {
  char candidate[platform::kMaxPath];
  if (!JoinText(candidate, sizeof candidate, parent, name)) return 0;
  char longest[platform::kMaxPath];
  if (!JoinText(longest, sizeof longest, candidate, outside::kLongestKeptName)) return 0;
  memcpy(gWorkPaths.workDir, candidate, sizeof candidate);
  return 1;
}

int ReportFailure(unsigned error) {
  wchar_t text[1024];
  platform::FormatWithInt(text, L"创建临时目录失败，错误代码%d", static_cast<int>(error));
  platform::ShowMessageBox(nullptr, text, L"错误", platform::kMbOk);
  return 0;
}

}  // namespace

void KeepDirectory(char* path) {
  char* lastSlash = strrchr(path, '\\');
  if (lastSlash) {
    lastSlash[1] = '\0';
  } else {
    path[0] = '\0';
  }
}

int NarrowSystemPath(const wchar_t* path, char* out, size_t capacity) {
  int lossy = 0;
  if (platform::NarrowToAnsi(path, out, static_cast<unsigned long>(capacity), &lossy) && !lossy) return 1;
  out[0] = '\0';
  if (!lossy) return 0;  // whole in the code page, but too long: no other form helps
  wchar_t shortPath[platform::kMaxPath] = {};
  unsigned long length = platform::ShortPathName(path, shortPath, platform::kMaxPath);
  if (length == 0 || length >= platform::kMaxPath) return 0;
  if (platform::NarrowToAnsi(shortPath, out, static_cast<unsigned long>(capacity), &lossy) && !lossy) {
    gWorkPaths.shortNameUsed = 1;
    return 1;
  }
  out[0] = '\0';
  return 0;
}

int PrepareWorkPaths(platform::File* heldFolder) {
  // Both folders come from the system in wide form: the narrow calls would
  // answer "?" for a character the code page lacks, and a path that points
  // nowhere. A path that did not fit its buffer leaves the folder unknown.
  wchar_t wide[platform::kMaxPath] = {};
  char ownDir[platform::kMaxPath] = {};
  unsigned long length = platform::ModuleFileName(wide, platform::kMaxPath);
  if (length > 0 && length < platform::kMaxPath && NarrowSystemPath(wide, ownDir, sizeof ownDir)) {
    memcpy(gWorkPaths.updaterPath, ownDir, sizeof ownDir);
    KeepDirectory(ownDir);
  }
  if (ownDir[0]) JoinText(gWorkPaths.hostExePath, sizeof gWorkPaths.hostExePath, ownDir, outside::kHostExeName);

  char tempDir[platform::kMaxPath] = {};
  unsigned long tempLength = platform::TempDirectory(wide, platform::kMaxPath);
  int placed = tempLength > 0 && tempLength < platform::kMaxPath && NarrowSystemPath(wide, tempDir, sizeof tempDir) &&
               UseWorkDir(tempDir, outside::kWorkDirName);
  if (!placed && ownDir[0]) placed = UseWorkDir(ownDir, outside::kFallbackWorkDirName);
  if (!placed) return ReportFailure(platform::kErrorFilenameTooLong);
  JoinText(gWorkPaths.installerPath, sizeof gWorkPaths.installerPath, gWorkPaths.workDir, outside::kInstallerName);

  int created = platform::MakeDirectory(gWorkPaths.workDir);
  if (!created && platform::LastError() != platform::kErrorAlreadyExists) return ReportFailure(platform::LastError());
  // Held from its checks to the end of the run: the folder that was checked is
  // the one the run uses, never one put in its place.
  platform::File folder = platform::OpenFolder(gWorkPaths.workDir);
  if (!folder) {
    unsigned error = platform::LastError();
    // A file in its place, as an existing folder always did, lets the run go
    // on: nothing can be downloaded beneath it.
    if (!created && !platform::IsFolder(gWorkPaths.workDir)) return 1;
    return ReportFailure(error);
  }
  // A folder that leads elsewhere, or one somebody else made, is not ours to
  // download into and start from. One this run made is the user's.
  int owner = created ? 1 : platform::FolderOwnerTrusted(folder, gWorkPaths.workDir);
  if (platform::FolderIsReparsePoint(folder) || owner == 0) {
    folder.Reset();
    return ReportFailure(platform::kErrorBorrowedFolder);
  }
  gWorkPaths.ownerUnknown = owner < 0;
  *heldFolder = static_cast<platform::File&&>(folder);
  if (!created) platform::RemoveFile(gWorkPaths.installerPath);  // a missing file is no error
  return 1;
}
