// The fake platform: windows and dialogs.
#include "fake_internal.h"

#include <wchar.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace platform {

Window FindTopWindow(const wchar_t* title) {
  Record("FindTopWindow " + Narrow(title));
  auto found = gFake->topWindows.find(title);
  return found == gFake->topWindows.end() ? nullptr : found->second;
}

int SendClose(Window window, unsigned long timeoutMs) {
  Record("SendClose " + std::to_string(timeoutMs));
  gFake->destroyed.insert(window);
  return 1;
}

int ShowMessageBox(Window owner, const wchar_t* text, const wchar_t* caption, unsigned style) {
  Record("MessageBox");
  gFake->boxes.push_back({owner, text, caption, style});
  return gFake->boxAnswer;
}

int FormatWithInt(wchar_t* buffer, const wchar_t* format, int value) {
  return swprintf(buffer, 1024, format, value);
}

void RegisterProgressBarClass() {
  Record("RegisterProgressBarClass");
  gFake->progressClassRegistered = true;
}

Window CreateDialogFromTemplate(Instance, int templateId, Window owner, DialogHandler handler) {
  Record("CreateDialog " + std::to_string(templateId));
  if (!gFake->dialogCreates) return nullptr;
  gFake->dialog = FakeWindow(kDialog);
  gFake->dialogOwner = owner;
  gFake->handler = handler;
  return gFake->dialog;
}

int ScreenWidth() { return gFake->screenWidth; }
int ScreenHeight() { return gFake->screenHeight; }

void PlaceTopMost(Window, int x, int y) {
  Record("PlaceTopMost");
  gFake->placedX = x;
  gFake->placedY = y;
}

void ShowWindowNow(Window window) { gFake->shown.insert(window); }

void EnableWindowInput(Window window, int enable) {
  if (enable) {
    gFake->disabled.erase(window);
  } else {
    gFake->disabled.insert(window);
  }
}

void Repaint(Window window) {
  if (window == FakeWindow(kDialog + 1000)) ++gFake->barRepaints;
}

void HandlePendingMessages() { ++gFake->messagePumps; }

void DestroyWindowNow(Window window) {
  Record("DestroyWindow");
  gFake->destroyed.insert(window);
}

Window DialogItem(Window dialog, int id) {
  if (!dialog || dialog != gFake->dialog || gFake->destroyed.count(dialog)) return nullptr;
  return FakeWindow(kDialog + static_cast<uintptr_t>(id));
}

void SetItemText(Window window, const wchar_t* text) { gFake->texts[window] = text; }

void SetProgressRange(Window, unsigned long maximum) { gFake->barMax = maximum; }

void SetProgressPosition(Window, unsigned long position) { gFake->barPos = position; }


}  // namespace platform
