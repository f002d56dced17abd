// Windows, dialogs and message boxes: user32 and comctl32.
#include "platform/win_internal.h"

#include <commctrl.h>

namespace platform {

namespace {

DialogHandler gDialogHandler;

INT_PTR CALLBACK DialogThunk(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return gDialogHandler ? gDialogHandler(AsWindow(window), message, wParam, lParam) : FALSE;
}

}  // namespace

Window FindTopWindow(const wchar_t* title) { return AsWindow(::FindWindowW(/*lpClassName=*/nullptr, title)); }

int SendClose(Window window, unsigned long timeoutMs) {
  DWORD_PTR answer = 0;
  return ::SendMessageTimeoutW(Hwnd(window), WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &answer) != 0;
}

int ShowMessageBox(Window owner, const wchar_t* text, const wchar_t* caption, unsigned style) {
  return ::MessageBoxW(Hwnd(owner), text, caption, style);
}

int FormatWithInt(wchar_t* buffer, const wchar_t* format, int value) { return ::wsprintfW(buffer, format, value); }

// Loaded on first use: comctl32 brings the display driver with it, which a run
// that shows no window should not pay for at start-up.
void RegisterProgressBarClass() {
  typedef BOOL(WINAPI * InitControls)(const INITCOMMONCONTROLSEX*);
  HMODULE comctl = LoadSystemLibrary(L"comctl32.dll");
  FARPROC proc = comctl ? ::GetProcAddress(comctl, "InitCommonControlsEx") : nullptr;
  InitControls init = reinterpret_cast<InitControls>(reinterpret_cast<void*>(proc));
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  if (init) init(&controls);
}

Window CreateDialogFromTemplate(Instance instance, int templateId, Window owner, DialogHandler handler) {
  gDialogHandler = handler;
  return AsWindow(::CreateDialogParamW(reinterpret_cast<HINSTANCE>(instance), MAKEINTRESOURCEW(templateId),
                                       Hwnd(owner), DialogThunk, /*dwInitParam=*/0));
}

int ScreenWidth() { return ::GetSystemMetrics(SM_CXFULLSCREEN); }

int ScreenHeight() { return ::GetSystemMetrics(SM_CYFULLSCREEN); }

void PlaceTopMost(Window window, int x, int y) {
  ::SetWindowPos(Hwnd(window), HWND_TOPMOST, x, y, /*cx=*/0, /*cy=*/0, SWP_NOSIZE);
}

void ShowWindowNow(Window window) { ::ShowWindow(Hwnd(window), SW_SHOW); }

void EnableWindowInput(Window window, int enable) { ::EnableWindow(Hwnd(window), enable); }

void Repaint(Window window) { ::UpdateWindow(Hwnd(window)); }

void DestroyWindowNow(Window window) { ::DestroyWindow(Hwnd(window)); }

void HandlePendingMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

Window DialogItem(Window dialog, int id) { return AsWindow(::GetDlgItem(Hwnd(dialog), id)); }

void SetItemText(Window window, const wchar_t* text) { ::SetWindowTextW(Hwnd(window), text); }

// PBM_SETRANGE holds only 16 bits; the 32-bit form takes the whole byte count.
void SetProgressRange(Window bar, unsigned long maximum) {
  ::SendMessageW(Hwnd(bar), PBM_SETRANGE32, 0, static_cast<LPARAM>(maximum));
}

void SetProgressPosition(Window bar, unsigned long position) {
  ::SendMessageW(Hwnd(bar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

}  // namespace platform
