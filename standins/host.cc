// Stand-in host application: a top-level window titled "Orvessa" that logs
// WM_CLOSE. Arguments: LOGFILE [--ignore-close] [--player] [--hang]
// [--slow-exit MS]: --hang stops handling messages once the window is up;
// --slow-exit takes MS milliseconds to end after its window closed.
#include "standin_log.h"

static const wchar_t* gLog = L"host.log";
static bool gIgnoreClose = false;

static LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    AppendLog(gLog, "WM_CLOSE");
    if (gIgnoreClose) return 0;
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  bool player = false, hang = false;
  DWORD exitDelay = 0;
  if (argc > 1) gLog = argv[1];
  for (int i = 2; i < argc; ++i) {
    if (!lstrcmpW(argv[i], L"--ignore-close")) gIgnoreClose = true;
    if (!lstrcmpW(argv[i], L"--player")) player = true;
    if (!lstrcmpW(argv[i], L"--hang")) hang = true;
    if (!lstrcmpW(argv[i], L"--slow-exit") && i + 1 < argc) exitDelay = static_cast<DWORD>(_wtoi(argv[++i]));
  }
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = HostProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"OrvessaStandin";
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  RegisterClassW(&windowClass);
  HWND host = CreateWindowW(L"OrvessaStandin", L"Orvessa", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 400, 300,
                            nullptr, nullptr, instance, nullptr);
  if (player) {
    CreateWindowW(L"OrvessaStandin", L"TarvelonFlashPlayer", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 440, 20, 300, 200,
                  nullptr, nullptr, instance, nullptr);
  }
  AppendLog(gLog, host ? "started" : "no-window");
  if (hang) Sleep(INFINITE);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  Sleep(exitDelay);
  AppendLog(gLog, "exit");
  return 0;
}
