// SPDX-License-Identifier: BSD-2-Clause
// The Windows shell's operations and its window procedure.
#include "player/win32/win_shell.h"

#include <cstring>

#include "player/player.h"

#include <windows.h>

namespace kivo {

namespace {

constexpr int kIconResource = 101;
constexpr int kBlankCursorResource = 101;
constexpr DWORD kBaseStyle = WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr COLORREF kYellow = 0x0000FFFF;
constexpr COLORREF kBlack = 0;

// The window procedure has no context argument: the one shell of the
// process is reached through here.
WinShellState* current = nullptr;

WinShellState* StateOf(void* context) { return static_cast<WinShellState*>(context); }
HWND Hwnd(const WinShellState* s) { return static_cast<HWND>(s->window); }
HINSTANCE Instance(const WinShellState* s) { return static_cast<HINSTANCE>(s->instance); }

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Player* p = current ? current->player : nullptr;
  switch (message) {
    case WM_DESTROY:
      // Nothing more is drawn on it; the quit arrives through the queue.
      if (current && current->window == static_cast<void*>(window)) current->window = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_SETFOCUS:
      PlayerOnFocus(p, true);
      break;
    case WM_KILLFOCUS:
      PlayerOnFocus(p, false);
      break;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      if (current) current->paintDc = dc;
      PlayerOnPaint(p);
      if (current) current->paintDc = nullptr;
      EndPaint(window, &paint);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_WINDOWPOSCHANGING: {
      auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
      if (pos && !(pos->flags & SWP_NOMOVE)) {
        int32_t x = pos->x, y = pos->y;
        PlayerOnWindowMoving(p, &x, &y);
        pos->x = x;
        pos->y = y;
      }
      break;
    }
    case WM_WINDOWPOSCHANGED:
      PlayerOnWindowMoved(p);
      break;
    case WM_CHAR:
      PlayerOnCharacter(p, static_cast<uint32_t>(wParam));
      return 1;
    case WM_LBUTTONUP:
      PlayerOnLeftButtonUp(p);
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterWindowClass(WinShellState* s, bool hideCursor) {
  if (s->classRegistered) return true;
  WNDCLASSA c{};
  c.style = 0;
  c.lpfnWndProc = WindowProcedure;
  c.hInstance = Instance(s);
  c.hIcon = LoadIconA(Instance(s), MAKEINTRESOURCEA(kIconResource));
  c.hCursor = hideCursor ? LoadCursorA(Instance(s), MAKEINTRESOURCEA(kBlankCursorResource))
                         : LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  c.hbrBackground = nullptr;
  c.lpszMenuName = nullptr;
  c.lpszClassName = kWindowClass;
  s->classRegistered = RegisterClassA(&c) != 0;
  return s->classRegistered;
}

int32_t CreateWindowOp(void* context, const ShellWindowRequest& request, void** window) {
  WinShellState* s = StateOf(context);
  *window = nullptr;
  if (!RegisterWindowClass(s, request.hideCursor != 0)) return kWindowClassFailed;
  DWORD extended = 0;
  if (request.topMost) extended |= WS_EX_TOPMOST;
  if (request.dialogFrame) extended |= WS_EX_DLGMODALFRAME;
  DWORD style = kBaseStyle;
  if (request.caption) style |= WS_CAPTION;
  HWND parent = reinterpret_cast<HWND>(static_cast<intptr_t>(request.parentWindow));
  s->window = CreateWindowExA(extended, kWindowClass, request.title, style, CW_USEDEFAULT, CW_USEDEFAULT,
                              request.width, request.height, parent, nullptr, Instance(s), nullptr);
  if (!s->window) return kWindowFailed;
  *window = s->window;
  return kWindowCreated;
}

// The player goes to its exit once its window is gone. The quit that
// WM_DESTROY posted is taken off the queue first: left there, it would end
// the next modal loop (the summary box) as soon as that box appeared.
void DestroyWindowOp(void* context) {
  WinShellState* s = StateOf(context);
  if (s->window) DestroyWindow(Hwnd(s));
  MSG quit;
  PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

void PlaceWindowOp(void* context, int32_t x, int32_t y, int32_t width, int32_t height) {
  WinShellState* s = StateOf(context);
  if (s->window) SetWindowPos(Hwnd(s), HWND_TOP, x, y, width, height, 0);
}

void ShowWindowOp(void* context, int32_t shown) {
  WinShellState* s = StateOf(context);
  if (s->window) ShowWindow(Hwnd(s), shown ? SW_SHOWNORMAL : SW_HIDE);
}

void RedrawFrameOp(void* context) {
  WinShellState* s = StateOf(context);
  if (s->window) SendMessageA(Hwnd(s), WM_NCPAINT, 1, 0);
}

void WindowCornerOp(void* context, int32_t* x, int32_t* y) {
  WinShellState* s = StateOf(context);
  RECT r;
  if (!s->window || !GetWindowRect(Hwnd(s), &r)) return;
  *x = r.left;
  *y = r.top;
}

void InvalidateOp(void* context, int32_t x, int32_t y, int32_t width, int32_t height) {
  WinShellState* s = StateOf(context);
  if (!s->window) return;
  const RECT r{x, y, x + width, y + height};
  InvalidateRect(Hwnd(s), &r, FALSE);
}

// The painting DC inside WM_PAINT, else the window's own for the moment.
HDC TakeDc(WinShellState* s) { return s->paintDc ? static_cast<HDC>(s->paintDc) : GetDC(Hwnd(s)); }
void GiveDc(WinShellState* s, HDC dc) {
  if (dc != s->paintDc) ReleaseDC(Hwnd(s), dc);
}

void FillBlackOp(void* context, int32_t x, int32_t y, int32_t width, int32_t height) {
  WinShellState* s = StateOf(context);
  if (!s->window) return;
  HDC dc = TakeDc(s);
  if (!dc) return;
  PatBlt(dc, x, y, width, height, BLACKNESS);
  GiveDc(s, dc);
}

int32_t MeasureTextOp(void* context, const char* text, uint32_t length, int32_t* width, int32_t* height) {
  WinShellState* s = StateOf(context);
  if (!s->window) return 0;
  HDC dc = GetDC(Hwnd(s));
  if (!dc) return 0;
  SIZE size{};
  const BOOL ok = GetTextExtentPoint32A(dc, text, static_cast<int>(length), &size);
  ReleaseDC(Hwnd(s), dc);
  if (!ok) return 0;
  *width = size.cx;
  *height = size.cy;
  return 1;
}

void DrawTextOp(void* context, const char* text, int32_t x, int32_t y, const PlayerBand& band) {
  WinShellState* s = StateOf(context);
  if (!s->window) return;
  HDC dc = GetDC(Hwnd(s));
  if (!dc) return;
  SetTextColor(dc, kYellow);
  SetBkColor(dc, kBlack);
  SetTextAlign(dc, TA_CENTER);
  const RECT r{band.left, band.top, band.right, band.bottom};
  ExtTextOutA(dc, x, y, ETO_OPAQUE, &r, text, static_cast<UINT>(strlen(text)), nullptr);
  ReleaseDC(Hwnd(s), dc);
}

int32_t PumpEventOp(void*, Player* player) {
  MSG message;
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return 0;
  if (message.message == WM_QUIT) {
    PlayerOnQuit(player);
    return 1;
  }
  TranslateMessage(&message);
  DispatchMessageA(&message);
  return 1;
}

void SleepOp(void*, uint32_t ms) { Sleep(ms); }

int32_t MessageBoxOp(void* context, const char* text, const char* caption, int32_t kind, int32_t owned) {
  WinShellState* s = StateOf(context);
  UINT flags = MB_OK | MB_ICONERROR;
  if (kind == kBoxInformation) flags = MB_OK | MB_ICONINFORMATION;
  if (kind == kBoxQuestion) flags = MB_YESNO | MB_ICONQUESTION;
  const int answer = MessageBoxA(owned ? Hwnd(s) : nullptr, text, caption, flags);
  return answer == IDYES ? kBoxAnswerYes : 0;
}

// Owned by the player window and shown as the window asks; whether a browser
// started is not examined.
void OpenWebPageOp(void* context, const char* url) {
  ShellExecuteA(Hwnd(StateOf(context)), "open", url, nullptr, nullptr, SW_SHOW);
}

bool ProgramPathOp(void*, char* out, uint32_t size) {
  // The program's path is taken at its first 255 characters.
  return os::ProgramFilePath(out, size < 256 ? size : 256);
}

}  // namespace

void WinScreenSize(int32_t* width, int32_t* height) {
  *width = GetSystemMetrics(SM_CXSCREEN);
  *height = GetSystemMetrics(SM_CYSCREEN);
}

PlayerShell MakeWinShell(WinShellState* state) {
  current = state;
  return PlayerShell{
      .context = state,
      .createWindow = CreateWindowOp,
      .destroyWindow = DestroyWindowOp,
      .placeWindow = PlaceWindowOp,
      .showWindow = ShowWindowOp,
      .redrawFrame = RedrawFrameOp,
      .windowCorner = WindowCornerOp,
      .invalidate = InvalidateOp,
      .fillBlack = FillBlackOp,
      .measureText = MeasureTextOp,
      .drawText = DrawTextOp,
      .pumpEvent = PumpEventOp,
      .sleepMs = SleepOp,
      .messageBox = MessageBoxOp,
      .openWebPage = OpenWebPageOp,
      .programPath = ProgramPathOp,
      .reportError = nullptr,  // the message box says it all
  };
}

}  // namespace kivo
