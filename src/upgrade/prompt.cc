#include "manifest/manifest.h"
#include "outside/outside.h"
#include "shared/log.h"
#include "shared/work_paths.h"
#include "upgrade/upgrade.h"

int PromptForUpgrade() {
  platform::Window owner = platform::FindTopWindow(outside::kPlayerWindowTitle);
  const wchar_t* text = gManifest.forced ? L"Orvessa发现新版本，点击确定后更新。" : L"Orvessa发现新版本，是否现在更新？";
  unsigned buttons = gManifest.forced ? platform::kMbOk : platform::kMbYesNo;
  FlushRunLog();  // the user may take a while
  int answer = platform::ShowMessageBox(owner, text, L"更新提示", buttons);
  int accepted = answer == platform::kIdYes || answer == platform::kIdOk;
  Log("prompt: %s, answered %d (%s)", gManifest.forced ? "forced" : "optional", answer, accepted ? "go" : "not now");
  return accepted;
}
