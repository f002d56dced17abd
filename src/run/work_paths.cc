#include "run/work_paths.h"

#include <string.h>

#include "outside/outside.h"
#include "run/text.h"

WorkPaths gWorkPaths;

namespace {

const unsigned kErrorFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE

// A directory serves as work directory only when every file kept in it fits
// the fixed path buffers; a path is never cut into a different one.
int UseWorkDir(const char* parent, const char* name) {
  char candidate[platform::kMaxPath];
  if (!JoinText(candidate, sizeof candidate, parent, name)) return 0;
  char longest[platform::kMaxPath];
  if (!JoinText(longest, sizeof longest, candidate, outside::kContentPartName)) return 0;
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

int PrepareWorkPaths() {
  // Own directory: the executable's path cut right after its last backslash.
  // A path that did not fit the buffer leaves the directory unknown.
  char ownDir[platform::kMaxPath] = {};
  unsigned long length = platform::ModuleFileName(ownDir, sizeof ownDir);
  char* lastSlash = length > 0 && length < sizeof ownDir ? strrchr(ownDir, '\\') : nullptr;
  if (lastSlash) {
    lastSlash[1] = '\0';
  } else {
    ownDir[0] = '\0';
  }
  if (ownDir[0]) JoinText(gWorkPaths.hostExePath, sizeof gWorkPaths.hostExePath, ownDir, outside::kHostExeName);

  char tempDir[platform::kMaxPath] = {};
  unsigned long tempLength = platform::TempDirectory(tempDir, sizeof tempDir);
  int placed = tempLength > 0 && tempLength < sizeof tempDir && UseWorkDir(tempDir, outside::kWorkDirName);
  if (!placed && ownDir[0]) placed = UseWorkDir(ownDir, outside::kFallbackWorkDirName);
  if (!placed) return ReportFailure(kErrorFilenameTooLong);
  JoinText(gWorkPaths.installerPath, sizeof gWorkPaths.installerPath, gWorkPaths.workDir, outside::kInstallerName);

  if (platform::MakeDirectory(gWorkPaths.workDir)) return 1;
  unsigned error = platform::LastError();
  if (error != platform::kErrorAlreadyExists) return ReportFailure(error);
  platform::RemoveFile(gWorkPaths.installerPath);  // a missing file is no error
  return 1;
}
