// SPDX-License-Identifier: BSD-2-Clause
// The stand-in shell and display of the player tests.
#include "player_fixture.h"

#include <cstring>

#include "base/clock.h"
#include "display/blit_style.h"
#include "player/command_line.h"
#include "support/test_movies.h"
#include "support/virtual_clock.h"

namespace kivo::test {

namespace {

FakeDisplay display;
uint32_t startMs = 0;
Player player;
ParsedCommandLine parsed;

// ---- Display --------------------------------------------------------------

uint32_t AnyStretch(const BlitStyle*, const BlitRecord*) { return kStretchAny; }

int32_t FakeOpen(BlitRecord* b, uint32_t flags) {
  if (display.refuse || display.openBuffers >= display.maxOpenBuffers) {
    SetBlitBufferError("The fake display refused the buffer.");
    return 0;
  }
  if (!MemoryBlitStyle()->open(b, flags)) return 0;
  b->screenBits = 32;
  ++display.openBuffers;
  return 1;
}

void FakeClose(BlitRecord* b) {
  MemoryBlitStyle()->close(b);
  --display.openBuffers;
}

int32_t FakeLock(BlitRecord* b) {
  display.frames.push_back(std::to_string(b->width) + "x" + std::to_string(b->height));
  return MemoryBlitStyle()->lock(b);
}

void FakeUnlock(BlitRecord* b) { MemoryBlitStyle()->unlock(b); }
void FakeBlit(BlitRecord*, const MovieRect*, int32_t) {}

const BlitStyle kFakeStyle = {
    .name = "Fake buffer",
    .id = "fake",
    .number = kBlitStyleDib,
    .capabilities = kBlitStyleLastResort,
    .stretch = AnyStretch,
    .open = FakeOpen,
    .close = FakeClose,
    .lock = FakeLock,
    .unlock = FakeUnlock,
    .blit = FakeBlit,
};
const BlitStyle* const kFakeStyles[] = {&kFakeStyle};

const BlitStyle* const* FakeStyles(uint32_t* count) {
  *count = 1;
  return kFakeStyles;
}

void FakeMeasureWindow(BlitRecord* b, int32_t* originX, int32_t* originY) {
  b->clientOffsetX = 4;
  b->clientOffsetY = 22;
  b->frameWidth = 8;
  b->frameHeight = 26;
  *originX = 100;
  *originY = 60;
}

void FakeMeasureScreen(BlitRecord* b) {
  b->screenWidth = display.screenWidth;
  b->screenHeight = display.screenHeight;
  b->screenBits = 32;
}

const BlitSystem kFakeSystem = {
    .unavailableText = "No fake device.",
    .styles = FakeStyles,
    .measureWindow = FakeMeasureWindow,
    .measureScreen = FakeMeasureScreen,
};

// ---- Shell ------------------------------------------------------------------

FakeShell* Of(void* c) { return static_cast<FakeShell*>(c); }

int32_t CreateWindowOp(void* c, const ShellWindowRequest& request, void** window) {
  Of(c)->request = request;
  static int windowToken;
  *window = &windowToken;
  return Of(c)->createResult;
}

void DestroyWindowOp(void* c) {
  FakeShell* s = Of(c);
  if (s->destroyCalls++ == 0) s->destroyedAtMs = PlayerTime();
  PlayerOnQuit(&player);
}

void PlaceWindowOp(void* c, int32_t x, int32_t y, int32_t w, int32_t h) {
  PlayerOnWindowMoving(&player, &x, &y);
  Of(c)->placements.push_back(Placement{x, y, w, h});
  PlayerOnWindowMoved(&player);
}

void ShowWindowOp(void*, int32_t) {}
void RedrawFrameOp(void*) {}

void WindowCornerOp(void* c, int32_t* x, int32_t* y) {
  *x = Of(c)->cornerX;
  *y = Of(c)->cornerY;
}

void InvalidateOp(void* c, int32_t, int32_t, int32_t, int32_t) { ++Of(c)->invalidations; }
void FillBlackOp(void* c, int32_t, int32_t, int32_t, int32_t) { ++Of(c)->fills; }

int32_t MeasureTextOp(void* c, const char*, uint32_t, int32_t* w, int32_t* h) {
  *w = Of(c)->textWidth;
  *h = Of(c)->textHeight;
  return 1;
}

void DrawTextOp(void* c, const char* text, int32_t, int32_t, const PlayerBand& band) {
  Of(c)->texts.push_back(text);
  Of(c)->lastBand = band;
}

int32_t PumpEventOp(void* c, Player* p) {
  FakeShell* s = Of(c);
  if (s->onPoll) s->onPoll(*p);
  for (ScriptedEvent& e : s->events) {
    if (e.done || !e.when(*p)) continue;
    e.done = true;
    e.act(p);
    return 1;
  }
  return 0;
}

void SleepOp(void*, uint32_t ms) { AdvanceClock(ms); }

int32_t MessageBoxOp(void* c, const char* text, const char* caption, int32_t kind, int32_t owned) {
  FakeShell* s = Of(c);
  s->boxes.push_back(ShownBox{text, caption, kind, owned});
  if (s->onBox) s->onBox(s->boxes.back());
  return s->answer;
}

void OpenWebPageOp(void* c, const char* url) { Of(c)->pages.push_back(url); }

bool ProgramPathOp(void* c, char* out, uint32_t size) {
  FakeShell* s = Of(c);
  if (s->programPathFails) return false;
  if (s->programPath.empty()) return os::ProgramFilePath(out, size);
  if (s->programPath.size() + 1 > size) return false;
  memcpy(out, s->programPath.c_str(), s->programPath.size() + 1);
  return true;
}

// The version check of most tests: a build of today, which never asks.
os::LocalDate FixedToday(void*) { return os::LocalDate{2024, 5, 20}; }
uint32_t NoStoredDate(void*, const char* fallback, char* out, uint32_t size) {
  snprintf(out, size, "%s", fallback);
  return uint32_t(strlen(out));
}
void ForgetDate(void*, const char*) {}

void SetTitleOp(void* c, const char* title) { Of(c)->titles.push_back(title); }
void ReportOp(void* c, const char* text) { Of(c)->reports.push_back(text); }
bool ShowDropWindowOp(void* c, const char* message) {
  Of(c)->dropWindows.push_back(message);
  return true;
}

}  // namespace

PlayerShell FakeShell::Table() {
  PlayerShell t{};
  t.context = this;
  t.createWindow = CreateWindowOp;
  t.destroyWindow = DestroyWindowOp;
  t.placeWindow = PlaceWindowOp;
  t.showWindow = ShowWindowOp;
  t.redrawFrame = RedrawFrameOp;
  t.windowCorner = WindowCornerOp;
  t.invalidate = InvalidateOp;
  t.fillBlack = FillBlackOp;
  t.measureText = MeasureTextOp;
  t.drawText = DrawTextOp;
  t.pumpEvent = PumpEventOp;
  t.sleepMs = SleepOp;
  t.messageBox = MessageBoxOp;
  t.openWebPage = OpenWebPageOp;
  t.programPath = ProgramPathOp;
  if (desktop) {
    t.reportError = ReportOp;
    t.setTitle = SetTitleOp;
    t.showDropWindow = ShowDropWindowOp;
  }
  return t;
}

FakeDisplay& Display() { return display; }

uint32_t PlayerTime() { return GetMilliseconds() - startMs; }

PlayerScope::PlayerScope() {
  UseVirtualClock();
  display = FakeDisplay{};
  SetBlitSystem(&kFakeSystem);
}

PlayerScope::~PlayerScope() {
  SetBlitSystem(nullptr);
  UsePlatformClock();
}

int32_t RunWithArguments(FakeShell& shell, const std::vector<std::string>& arguments,
                         const VersionCheckServices* versionCheck) {
  std::vector<const char*> argv{"kivoplay"};
  for (const std::string& a : arguments) argv.push_back(a.c_str());
  char line[kCommandLineSize];
  std::vector<std::string> movies;
  JoinProgramArguments(int(argv.size()), argv.data(), SystemFileFacts(), line, sizeof line, &movies);
  CommandLineSources sources{"", line, nullptr, nullptr, int32_t(display.screenWidth),
                             int32_t(display.screenHeight)};
  if (!ParseCommandLine(sources, &parsed) && (parsed.leftover[0] || (movies.empty() && !shell.desktop))) return -1;
  PlayerOptions options{};
  options.movies = movies;
  if (versionCheck) {
    options.versionCheck = *versionCheck;
  } else {
    options.versionCheck.buildDate = "2024-05-01";
    options.versionCheck.today = FixedToday;
    options.versionCheck.readStored = NoStoredDate;
    options.versionCheck.writeStored = ForgetDate;
  }
  startMs = GetMilliseconds();
  const PlayerShell table = shell.Table();
  return RunPlayer(&player, table, parsed, options);
}

std::vector<std::pair<std::string, int>> FrameRuns() {
  std::vector<std::pair<std::string, int>> runs;
  for (const std::string& f : display.frames) {
    if (runs.empty() || runs.back().first != f)
      runs.emplace_back(f, 1);
    else
      ++runs.back().second;
  }
  return runs;
}

std::string MovieFile(const std::string& name, uint32_t frames, uint32_t width, uint32_t height) {
  return WriteTestFile(name, FillerMovie(frames, width, height));
}

ScriptedEvent AtMs(uint32_t ms, std::function<void(Player*)> act) {
  return ScriptedEvent{[ms](const Player&) { return PlayerTime() >= ms; }, std::move(act)};
}

ScriptedEvent InLogo(std::function<void(Player*)> act, uint32_t afterMs) {
  return ScriptedEvent{[afterMs](const Player& p) {
                         return p.logoMode && p.movie && GetMilliseconds() - (p.logoEnd - kLogoMs) >= afterMs;
                       },
                       std::move(act)};
}

ScriptedEvent AfterFrames(uint32_t frames, std::function<void(Player*)> act) {
  return ScriptedEvent{[frames](const Player&) { return display.frames.size() >= frames; }, std::move(act)};
}

std::function<void(Player*)> Key(uint32_t c) {
  return [c](Player* p) { PlayerOnCharacter(p, c); };
}

const Player& LastPlayer() { return player; }

}  // namespace kivo::test
