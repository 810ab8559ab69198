// SPDX-License-Identifier: BSD-2-Clause
// The SDL2 shell's operations and its event translation.
#include "player/sdl/sdl_shell.h"

#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kivo/display.h"
#include "platform/platform.h"
#include "player/player.h"
#include "player/sdl/file_chooser.h"
#include "player/text_font.h"

namespace kivo {

namespace {

constexpr int32_t kTextSurfaceWidth = 4096;
constexpr Uint32 kYellow = 0xFFFFFF00u;  // ARGB
constexpr Uint32 kBlack = 0xFF000000u;

SdlShellState* StateOf(void* context) { return static_cast<SdlShellState*>(context); }

volatile sig_atomic_t signalReceived = 0;
volatile sig_atomic_t modal = 0;        // a box or the chooser holds the thread
volatile sig_atomic_t chooserChild = 0;

// Ends the children of the main thread (SDL shows its boxes from a child
// process) with only what a signal handler may call.
void EndChildren() {
  if (chooserChild > 0) kill(pid_t(chooserChild), SIGTERM);
  char path[64] = "/proc/self/task/";
  size_t n = strlen(path);
  char digits[16];
  size_t d = 0;
  for (long v = long(getpid()); v > 0 && d < sizeof digits; v /= 10) digits[d++] = char('0' + v % 10);
  while (d > 0) path[n++] = digits[--d];
  memcpy(path + n, "/children", 10);
  const int fd = open(path, O_RDONLY);
  if (fd < 0) return;
  char text[512];
  const ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  long pid = 0;
  for (ssize_t i = 0; i <= got; ++i) {
    if (i < got && text[i] >= '0' && text[i] <= '9') {
      pid = pid * 10 + (text[i] - '0');
    } else if (pid > 0) {
      kill(pid_t(pid), SIGTERM);
      pid = 0;
    }
  }
}

extern "C" void OnEndSignal(int sig) {
  if (modal) {
    EndChildren();
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  signalReceived = sig;
}

// While a box or the chooser runs, a signal ends the program at once.
struct ModalScope {
  ModalScope() { modal = 1; }
  ~ModalScope() { modal = 0; }
};

struct Borders {
  int top = 0, left = 0, bottom = 0, right = 0;
};

Borders BordersOf(SDL_Window* w) {
  Borders b;
  if (!w || SDL_GetWindowBordersSize(w, &b.top, &b.left, &b.bottom, &b.right) != 0) b = Borders{};
  return b;
}

// The window's own surface, unless the buffer's style draws the whole
// window: asking for the surface then would take the window from it.
SDL_Surface* DirectSurface(SdlShellState* s) {
  const BlitBuffer* b = s->player ? s->player->buffer : nullptr;
  if (!s->window || s->hidden || (GetBlitStyleCapabilities(b) & kBlitStyleDrawsWindow)) return nullptr;
  return SDL_GetWindowSurface(s->window);
}

int32_t CreateWindowOp(void* context, const ShellWindowRequest& request, void** window) {
  SdlShellState* s = StateOf(context);
  *window = nullptr;
  if (!s->video) return kWindowCreated;  // no display: the picture goes to memory
  // SDL has no frame without a caption: window style 1 keeps the frame the
  // window manager gives, style 2 has none; neither can be resized.
  Uint32 flags = SDL_WINDOW_HIDDEN;
  if (!request.dialogFrame) flags |= SDL_WINDOW_BORDERLESS;
  if (request.topMost) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
  // A parent window handle means nothing here: the window stands alone.
  s->window = SDL_CreateWindow(request.title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, request.width,
                               request.height, flags);
  if (!s->window) return kWindowFailed;
  s->hidden = true;
  s->textSurface = SDL_CreateRGBSurfaceWithFormat(0, kTextSurfaceWidth, kCellHeight, 32, SDL_PIXELFORMAT_ARGB8888);
  if (request.hideCursor) SDL_ShowCursor(SDL_DISABLE);
  *window = s->window;
  return kWindowCreated;
}

void DestroyWindowOp(void* context) {
  SdlShellState* s = StateOf(context);
  // The window itself goes after the display buffers made on it have closed.
  if (s->window) SDL_HideWindow(s->window);
  s->hidden = true;
  PlayerOnQuit(s->player);
}

void PlaceWindowOp(void* context, int32_t x, int32_t y, int32_t width, int32_t height) {
  SdlShellState* s = StateOf(context);
  if (!s->window) return;
  s->dropWindow = false;  // a movie takes the window
  PlayerOnWindowMoving(s->player, &x, &y);
  const Borders b = BordersOf(s->window);
  const int32_t clientWidth = width - b.left - b.right, clientHeight = height - b.top - b.bottom;
  SDL_SetWindowSize(s->window, clientWidth > 0 ? clientWidth : 1, clientHeight > 0 ? clientHeight : 1);
  // SDL places the client area.
  SDL_SetWindowPosition(s->window, x + b.left, y + b.top);
  PlayerOnWindowMoved(s->player);
}

void ShowWindowOp(void* context, int32_t shown) {
  SdlShellState* s = StateOf(context);
  if (!s->window) return;
  if (shown) {
    SDL_ShowWindow(s->window);
    SDL_RaiseWindow(s->window);
    s->hidden = false;
  } else {
    SDL_HideWindow(s->window);
    s->hidden = true;
  }
}

void RedrawFrameOp(void*) {}

void WindowCornerOp(void* context, int32_t* x, int32_t* y) {
  SdlShellState* s = StateOf(context);
  if (!s->window) return;
  int cx = 0, cy = 0;
  SDL_GetWindowPosition(s->window, &cx, &cy);
  const Borders b = BordersOf(s->window);
  *x = cx - b.left;
  *y = cy - b.top;
}

void InvalidateOp(void* context, int32_t, int32_t, int32_t, int32_t) { StateOf(context)->paintPending = true; }

void FillClipped(SDL_Surface* surface, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  if (x0 < 0) x0 = 0;
  if (y0 < 0) y0 = 0;
  if (x1 > surface->w) x1 = surface->w;
  if (y1 > surface->h) y1 = surface->h;
  if (x1 <= x0 || y1 <= y0) return;
  SDL_Rect r{int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
  SDL_FillRect(surface, &r, SDL_MapRGB(surface->format, 0, 0, 0));
}

// Black around the picture: the window's surface holds the picture itself
// when the buffer writes it in place, and the caller shows it again.
void FillBlackOp(void* context, int32_t x, int32_t y, int32_t width, int32_t height) {
  SdlShellState* s = StateOf(context);
  SDL_Surface* surface = DirectSurface(s);
  if (!surface) {
    // A renderer clears around the picture at every blit; only the text
    // drawn over the window has to go.
    if (s->window) EraseWindowBand(s->window, x, y, width, height);
    return;
  }
  const int64_t x1 = int64_t(x) + width, y1 = int64_t(y) + height;
  const BlitBuffer* b = s->player ? s->player->buffer : nullptr;
  if (!(GetBlitStyleCapabilities(b) & kBlitStyleWrittenInPlace)) {
    FillClipped(surface, x, y, x1, y1);
  } else {
    const int64_t px = b->destinationX, py = b->destinationY;
    const int64_t px1 = px + b->width, py1 = py + b->height;
    FillClipped(surface, x, y, x1, py);
    FillClipped(surface, x, py1, x1, y1);
    FillClipped(surface, x, py, px, py1);
    FillClipped(surface, px1, py, x1, py1);
  }
  SDL_UpdateWindowSurface(s->window);
}

int32_t MeasureTextOp(void*, const char*, uint32_t length, int32_t* width, int32_t* height) {
  MeasureBitmapText(length, 1, width, height);
  return 1;
}

// The line is drawn into the scratch surface, then onto the window's own
// surface, or handed to the renderer that draws the window whole at every
// blit, which keeps it and draws it after the picture.
void DrawTextOp(void* context, const char* text, int32_t x, int32_t y, const PlayerBand& band) {
  SdlShellState* s = StateOf(context);
  SDL_Surface* scratch = s->textSurface;
  if (!s->window || !scratch) return;
  const int32_t bandWidth = band.right - band.left, bandHeight = band.bottom - band.top;
  if (bandWidth <= 0 || bandHeight <= 0) return;
  const int32_t w = bandWidth < kTextSurfaceWidth ? bandWidth : kTextSurfaceWidth;
  const int32_t h = bandHeight < kCellHeight ? bandHeight : kCellHeight;
  if (SDL_LockSurface(scratch) != 0) return;
  auto* pixels = static_cast<uint32_t*>(scratch->pixels);
  const int32_t pitch = scratch->pitch / 4;
  for (int32_t row = 0; row < h; ++row)
    for (int32_t col = 0; col < w; ++col) pixels[row * pitch + col] = kBlack;
  uint32_t length = 0;
  while (text[length]) ++length;
  int32_t textWidth = 0;
  MeasureBitmapText(length, 1, &textWidth, nullptr);
  // Centred on x, as the band's coordinates give it.
  DrawBitmapText(pixels, pitch, w, h, x - band.left - textWidth / 2, y - band.top, text, length, 1, kYellow);
  SDL_UnlockSurface(scratch);
  SDL_Surface* surface = DirectSurface(s);
  if (!surface) {
    ShowWindowBand(s->window, scratch->pixels, scratch->pitch, band.left, band.top, w, h);
    return;
  }
  SDL_Rect from{0, 0, w, h};
  SDL_Rect to{band.left, band.top, w, h};
  SDL_BlitSurface(scratch, &from, surface, &to);
  SDL_Rect shown{band.left, band.top, w, h};
  SDL_UpdateWindowSurfaceRects(s->window, &shown, 1);
}

void SetTitleOp(void* context, const char* title) {
  SdlShellState* s = StateOf(context);
  if (s->window) SDL_SetWindowTitle(s->window, title);
}

constexpr int32_t kDropWidth = 480, kDropHeight = 270;

// The drop window's text, centred: what to do, the keys, and the last
// message (a dropped file that could not be played).
void DrawDropWindow(SdlShellState* s) {
  SDL_Surface* surface = s->window ? SDL_GetWindowSurface(s->window) : nullptr;
  if (!surface) return;
  SDL_Surface* text = SDL_CreateRGBSurfaceWithFormat(0, surface->w, surface->h, 32, SDL_PIXELFORMAT_ARGB8888);
  if (!text) return;
  SDL_FillRect(text, nullptr, 0xFF202028u);
  struct Line {
    std::string text;
    int32_t scale;
    uint32_t ink;
  };
  std::vector<Line> lines{{"Drop Kivo movies here", 2, 0xFFFFFFFFu}, {"", 1, 0}};
  lines.push_back({s->chooser ? "or press Ctrl+O to choose them" : "from a file manager to play them", 1, 0xFFC0C0C0u});
  lines.push_back({"", 2, 0});
  lines.push_back({"While playing: Space pause, Enter step,", 1, 0xFFC0C0C0u});
  lines.push_back({"'.' next movie, Esc quit", 1, 0xFFC0C0C0u});
  if (!s->dropMessage.empty()) {
    lines.push_back({"", 1, 0});
    const size_t perLine = size_t(surface->w / kCellWidth) - 2;
    for (size_t at = 0; at < s->dropMessage.size() && lines.size() < 10; at += perLine)
      lines.push_back({s->dropMessage.substr(at, perLine), 1, 0xFFFF8080u});
  }
  int32_t total = 0;
  for (const Line& l : lines) total += kCellHeight * l.scale;
  int32_t y = (surface->h - total) / 2;
  if (SDL_LockSurface(text) == 0) {
    for (const Line& l : lines) {
      int32_t width = 0;
      MeasureBitmapText(uint32_t(l.text.size()), l.scale, &width, nullptr);
      DrawBitmapText(static_cast<uint32_t*>(text->pixels), text->pitch / 4, text->w, text->h, (text->w - width) / 2, y,
                     l.text.c_str(), uint32_t(l.text.size()), l.scale, l.ink);
      y += kCellHeight * l.scale;
    }
    SDL_UnlockSurface(text);
  }
  SDL_BlitSurface(text, nullptr, surface, nullptr);
  SDL_FreeSurface(text);
  SDL_UpdateWindowSurface(s->window);
}

bool ShowDropWindowOp(void* context, const char* message) {
  SdlShellState* s = StateOf(context);
  if (!s->window) return false;
  if (!s->dropWindow) {
    s->dropWindow = true;
    s->chooser = FindFileChooser();
    SDL_SetWindowSize(s->window, kDropWidth, kDropHeight);
    SDL_Rect screen{0, 0, kDropWidth, kDropHeight};
    SDL_GetDisplayBounds(0, &screen);
    s->dropX = screen.x + (screen.w - kDropWidth) / 2;
    s->dropY = screen.y + (screen.h - kDropHeight) / 2;
    s->dropPlaced = false;
    SDL_SetWindowPosition(s->window, s->dropX, s->dropY);
    SDL_ShowWindow(s->window);
    SDL_RaiseWindow(s->window);
    s->hidden = false;
  }
  s->dropMessage = message ? message : "";
  DrawDropWindow(s);
  return true;
}

// Ctrl+O: the chosen files are played as if dropped.
void ChooseFiles(SdlShellState* s, Player* player) {
  if (!s->chooser) return;
  std::vector<std::string> chosen;
  {
    ModalScope scope;
    chosen = ChooseMovies(&s->chooser, &chooserChild);
  }
  // None could answer: the window says to drop files instead.
  if (!s->chooser && s->dropWindow) DrawDropWindow(s);
  for (const std::string& file : chosen) PlayerOnDrop(player, file.c_str());
}

uint32_t KeyCharacter(SDL_Keycode key) {
  switch (key) {
    case SDLK_SPACE: return ' ';
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return 13;
    case SDLK_PERIOD:
    case SDLK_KP_PERIOD: return '.';
    case SDLK_ESCAPE: return 27;
    default: return 0;
  }
}

// A move by the user (or by PlaceWindowOp) lands where a move by the
// player would: the picture's aligned position. Moving it there sends one
// more move event, which then changes nothing.
void WindowMoved(SdlShellState* s, Player* player) {
  if (s->window) {
    int32_t x = 0, y = 0;
    WindowCornerOp(s, &x, &y);
    int32_t adjustedX = x, adjustedY = y;
    PlayerOnWindowMoving(player, &adjustedX, &adjustedY);
    if (adjustedX != x || adjustedY != y) {
      const Borders b = BordersOf(s->window);
      SDL_SetWindowPosition(s->window, adjustedX + b.left, adjustedY + b.top);
    }
  }
  PlayerOnWindowMoved(player);
}

int32_t PumpEventOp(void* context, Player* player) {
  SdlShellState* s = StateOf(context);
  if (s->paintPending) {
    s->paintPending = false;
    PlayerOnPaint(player);
    return 1;
  }
  if (signalReceived) {
    PlayerOnTerminate(player);
    return 0;
  }
  if (!s->video) return 0;
  SDL_Event e;
  if (!SDL_PollEvent(&e)) return 0;
  switch (e.type) {
    case SDL_QUIT:
      PlayerOnQuit(player);
      break;
    case SDL_WINDOWEVENT:
      switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE: PlayerOnQuit(player); break;
        case SDL_WINDOWEVENT_FOCUS_GAINED: PlayerOnFocus(player, true); break;
        case SDL_WINDOWEVENT_FOCUS_LOST: PlayerOnFocus(player, false); break;
        case SDL_WINDOWEVENT_EXPOSED:
          if (s->dropWindow) {
            // The display may map the window where it was first asked for:
            // centred once more, the first time it is seen.
            if (!s->dropPlaced) SDL_SetWindowPosition(s->window, s->dropX, s->dropY);
            s->dropPlaced = true;
            DrawDropWindow(s);
          } else
            PlayerOnPaint(player);
          break;
        case SDL_WINDOWEVENT_MOVED: WindowMoved(s, player); break;
        case SDL_WINDOWEVENT_LEAVE: TrackBlitCursor(player->buffer); break;
        default: break;
      }
      break;
    case SDL_DROPFILE:
      PlayerOnDrop(player, e.drop.file);
      SDL_free(e.drop.file);
      break;
    case SDL_KEYDOWN: {
      if (e.key.keysym.sym == SDLK_o && (e.key.keysym.mod & KMOD_CTRL)) {
        if (!s->chooser) s->chooser = FindFileChooser();
        ChooseFiles(s, player);
        break;
      }
      const uint32_t c = KeyCharacter(e.key.keysym.sym);
      if (c) PlayerOnCharacter(player, c);
      break;
    }
    case SDL_MOUSEMOTION:
      TrackBlitCursor(player->buffer);
      break;
    case SDL_MOUSEBUTTONUP:
      if (e.button.button == SDL_BUTTON_LEFT) PlayerOnLeftButtonUp(player);
      break;
    default:
      break;
  }
  return 1;
}

void SleepOp(void*, uint32_t ms) { os::SleepMs(ms); }

int32_t MessageBoxOp(void* context, const char* text, const char* caption, int32_t kind, int32_t owned) {
  SdlShellState* s = StateOf(context);
  // Every other box is also written out, so that a run without a display,
  // or a script, sees what the user would have read; the player has
  // reported each error on a line of its own.
  if (kind != kBoxError) {
    fprintf(stderr, "%s:\n%s%s", caption, text, text[0] && text[strlen(text) - 1] == '\n' ? "" : "\n");
    fflush(stderr);
  }
  if (!s->video) return 0;
  SDL_MessageBoxButtonData buttons[2];
  int count = 0;
  if (kind == kBoxQuestion) {
    buttons[count++] = SDL_MessageBoxButtonData{SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, kBoxAnswerYes, "Yes"};
    buttons[count++] = SDL_MessageBoxButtonData{SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "No"};
  } else {
    buttons[count++] = SDL_MessageBoxButtonData{
        SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "OK"};
  }
  const Uint32 flags = kind == kBoxError ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_INFORMATION;
  SDL_Window* parent = owned && s->window && !s->hidden ? s->window : nullptr;
  const SDL_MessageBoxData data{flags, parent, caption, text, count, buttons, nullptr};
  int answer = 0;
  // A question no box could ask counts as No.
  ModalScope scope;
  if (SDL_ShowMessageBox(&data, &answer) != 0) return 0;
  return answer;
}

void OpenWebPageOp(void*, const char* url) { os::OpenWebPage(url); }

bool ProgramPathOp(void*, char* out, uint32_t size) { return os::ProgramFilePath(out, size); }

void ReportErrorOp(void* context, const char* text) {
  const SdlShellState* s = StateOf(context);
  fprintf(stderr, "%s: %s\n", s->programName ? s->programName : "kivoplay", text);
  fflush(stderr);
}

}  // namespace

void InstallSdlSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
}

int SdlSignalReceived() { return signalReceived; }

bool StartSdlVideo(SdlShellState* state) {
  state->video = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
  return state->video;
}

void StopSdl(SdlShellState* state) {
  if (state->textSurface) SDL_FreeSurface(state->textSurface);
  state->textSurface = nullptr;
  if (state->window) SDL_DestroyWindow(state->window);
  state->window = nullptr;
  SDL_Quit();
}

void SdlScreenSize(const SdlShellState& state, int32_t* width, int32_t* height) {
  *width = *height = 0;
  SDL_DisplayMode mode;
  if (state.video && SDL_GetCurrentDisplayMode(0, &mode) == 0) {
    *width = mode.w;
    *height = mode.h;
  }
}

PlayerShell MakeSdlShell(SdlShellState* state) {
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
      .reportError = ReportErrorOp,
      .setTitle = SetTitleOp,
      .showDropWindow = ShowDropWindowOp,
  };
}

}  // namespace kivo
