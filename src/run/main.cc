// Entry of Updater.exe: one update run, exit status 0 on every path.
#include <windows.h>

#include "run/run.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  RunUpdate(reinterpret_cast<platform::Instance>(instance));
  return 0;
}
