// SPDX-License-Identifier: BSD-2-Clause
// The player's main loop: the start, the steps for each movie (library
// settings, the open of each kind of entry, stretch and doubling, the
// display buffer, centring and placement, the statistics band), the message
// loop with its sleeps, the end of a movie, list passes, the logo and the
// exit with the summary; where the shell has one, the window that waits for
// movies to be dropped on it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kivo/kivo.h"
#include "player/logo_movie.h"
#include "player/movie_list.h"
#include "player/picture_copy.h"
#include "player/player.h"
#include "player/sound_choice.h"

namespace kivo {

namespace {

constexpr uint32_t kStretchBits = 0xFF000000u;  // both directions' stretch kinds
constexpr uint32_t kForceFullCopy = 0x80000000u;
constexpr int32_t kBlackArea = 4096;

int32_t Box(Player* p, const char* text, const char* caption, int32_t kind, int32_t owned) {
  const PlayerShell* s = p->shell;
  return s->messageBox ? s->messageBox(s->context, text, caption, kind, owned) : 0;
}

void DestroyPlayerWindow(Player* p) {
  if (!p->windowDestroyed) {
    p->windowDestroyed = 1;
    if (p->shell->destroyWindow) p->shell->destroyWindow(p->shell->context);
  }
  p->quitPending = 1;
}

void CloseOwnFile(Player* p) {
  if (p->file != os::kNoFile) os::CloseFile(p->file);
  p->file = os::kNoFile;
}

// Everything still open, after an error or at the exit.
void ReleaseAll(Player* p) {
  CloseMovie(p->movie);
  p->movie = nullptr;
  CloseOwnFile(p);
  CloseBlitBuffer(p->oldBuffer);
  p->oldBuffer = nullptr;
  CloseBlitBuffer(p->buffer);
  p->buffer = nullptr;
}

void Report(Player* p, const char* line) {
  if (p->shell->reportError) p->shell->reportError(p->shell->context, line);
}

// An error the user must see: nothing more is played.
int32_t Fail(Player* p, const char* text) {
  Box(p, text, kErrorCaption, kBoxError, 0);
  DestroyPlayerWindow(p);
  ReleaseAll(p);
  return 1;
}

void HandLibrarySettings(const PlayerSettings& s) {
  if (s.rateNum != -1 && s.rateDen != -1) SetFrameRate(s.rateNum, s.rateDen);
  if (s.soundTrack != 0) {
    const uint32_t id = static_cast<uint32_t>(s.soundTrack);
    SetSoundTracks(1, &id);
  }
  if (s.readSpeed != 0) SetSimulatedReadSpeed(static_cast<uint32_t>(s.readSpeed));
  if (s.readBufferSize != -1) SetReadBufferSize(static_cast<uint32_t>(s.readBufferSize));
}

bool AskYesNo(void* context, const char* text, const char* caption) {
  auto* p = static_cast<Player*>(context);
  return Box(p, text, caption, kBoxQuestion, 1) == kBoxAnswerYes;
}

void OpenPage(void* context, const char* url) {
  auto* p = static_cast<Player*>(context);
  if (p->shell->openWebPage) p->shell->openWebPage(p->shell->context, url);
}

bool ProgramPath(Player* p, char* out, uint32_t size) {
  if (p->shell->programPath) return p->shell->programPath(p->shell->context, out, size);
  return os::ProgramFilePath(out, size);
}

// Opens the file an entry with an offset names and moves to the movie in it.
bool OpenStoredMovieFile(Player* p, const char* path, uint64_t offset) {
  p->file = os::OpenFileRead(path, true);
  if (p->file == os::kNoFile) return false;
  // An offset past the end is found out by the open, which reads nothing there.
  os::SeekFile(p->file, static_cast<int64_t>(offset));
  return true;
}

// kStepSkip: a dropped movie could not be opened; it was reported and the
// player goes on with the next one.
enum StepResult : int32_t { kStepDone = 0, kStepEnd = 1, kStepSkip = 2 };

// The base of a name, for the title.
const char* BaseName(const char* path) {
  const char* base = path;
  for (const char* c = path; *c; ++c)
    if (*c == '/' || (kNativeNameStyle == kWindowsNames && (*c == '\\' || *c == ':'))) base = c + 1;
  return *base ? base : path;
}

void NameInTitle(Player* p, const char* path) {
  if (!p->shell->setTitle) return;
  const std::string title = std::string(BaseName(path)) + kNamedTitleDash + kNamedTitle;
  p->shell->setTitle(p->shell->context, title.c_str());
}

// Opens the entry; kStepEnd with p->exitCode set when nothing is to play.
StepResult OpenEntry(Player* p, const MovieEntry& entry) {
  const uint32_t flags = p->settings.openFlags;
  if (entry.kind != kEntryOwnProgram && RunVersionCheck(p->versionCheck) == kVersionQuit) {
    DestroyPlayerWindow(p);
    ReleaseAll(p);
    p->exitCode = 1;
    return kStepEnd;
  }
  const char* failure = nullptr;  // the player's own file could not be opened
  char path[kCommandLineSize + 8];
  const char* name = entry.name;
  if (entry.kind == kEntryFile) {
    p->movie = OpenMovie(entry.name, flags);
  } else {
    if (entry.kind == kEntryOwnProgram) {
      name = ProgramPath(p, path, sizeof path) ? path : nullptr;
    }
    if (!name || !OpenStoredMovieFile(p, name, entry.offset)) {
      failure = entry.kind == kEntryOwnProgram ? kProgramFileErrorText : kFileErrorText;
    } else {
      p->movie = OpenMovie(reinterpret_cast<const void*>(p->file), flags | kOpenHandle);
    }
  }
  if (!p->movie) {
    const char* text = failure ? failure : GetErrorText();
    char line[kMovieNameSize + 160];
    DescribeOpenFailure(name, text, line, sizeof line);
    Report(p, line);
    if (entry.dropped) {
      p->message = line;
      ReleaseAll(p);
      return kStepSkip;
    }
    // Where there is a terminal the box says what it says; the Windows
    // program keeps its own texts.
    p->exitCode = Fail(p, p->shell->reportError ? line : text);
    return kStepEnd;
  }
  NameInTitle(p, name ? name : entry.name);
  return kStepDone;
}

// The statistics band above the picture, sized from the sample text.
void ReserveStatsBand(Player* p, int32_t* windowWidth, int32_t* windowHeight) {
  int32_t textWidth = 0, textHeight = 0;
  const PlayerShell* s = p->shell;
  if (s->measureText) s->measureText(s->context, kStatsSampleText, kStatsSampleLength, &textWidth, &textHeight);
  const int32_t bandWidth = textWidth + 8;
  p->band.left = 0;
  p->band.top = p->pictureY;
  if (*windowWidth < bandWidth) {
    p->pictureX += ((bandWidth - *windowWidth) / 2) & ~3;
    *windowWidth = bandWidth;
  }
  *windowHeight += textHeight;
  p->pictureY += textHeight;
  p->band.right = *windowWidth;
  p->band.bottom = p->band.top + textHeight;
}

// Size, position and show the window for the open buffer.
void PlaceWindow(Player* p) {
  BlitBuffer* b = p->buffer;
  PlayerSettings& s = p->settings;
  if (s.posX == kPositionCentre)
    s.posX = CentredPosition(b->screenWidth, b->windowWidth, b->clientOffsetX, true);
  if (s.posY == kPositionCentre)
    s.posY = CentredPosition(b->screenHeight, b->windowHeight, b->clientOffsetY, false);

  int32_t windowX, windowY, windowWidth, windowHeight;
  if (s.fillScreen) {
    AdjustWindowPosition(b, &s.posX, &s.posY);
    windowX = -b->clientOffsetX;
    windowY = -b->clientOffsetY;
    windowWidth = static_cast<int32_t>(b->screenWidth + b->frameWidth);
    windowHeight = static_cast<int32_t>(b->screenHeight + b->frameHeight);
    p->pictureX = s.posX;
    p->pictureY = s.posY;
  } else {
    windowX = s.posX;
    windowY = s.posY;
    windowWidth = static_cast<int32_t>(b->windowWidth);
    windowHeight = static_cast<int32_t>(b->windowHeight);
    p->pictureX = 0;
    p->pictureY = 0;
  }
  if (s.showStats) ReserveStatsBand(p, &windowWidth, &windowHeight);

  const PlayerShell* sh = p->shell;
  if (sh->placeWindow) sh->placeWindow(sh->context, windowX, windowY, windowWidth, windowHeight);
  if (sh->redrawFrame) sh->redrawFrame(sh->context);
  if (sh->showWindow) sh->showWindow(sh->context, 1);
  SetBlitPosition(b, p->pictureX, p->pictureY);
}

// Steps 1 to 9 for the entry: kStepEnd (with the exit code) after a failure.
StepResult StartMovie(Player* p, const MovieEntry& entry) {
  PlayerSettings& s = p->settings;
  HandLibrarySettings(s);
  const StepResult opened = OpenEntry(p, entry);
  if (opened != kStepDone) return opened;
  Movie* m = p->movie;

  // The stretch kinds are the current movie's alone.
  s.bufferFlags &= ~kStretchBits;
  MovieInfo info;
  GetMovieInfo(m, &info);
  StretchTargets(&s, info.width, info.height, &p->targetWidth, &p->targetHeight);
  if ((info.openFlags & kOpenModeMask) == 0) {
    const uint32_t mode = BuiltInDoublingMode(info.width, info.height, p->targetWidth, p->targetHeight);
    if (mode != 0 && SetMovieDisplayMode(m, mode)) {
      s.bufferFlags &= ~kStretchBits;
      GetMovieInfo(m, &info);
    }
  }
  if (s.fillScreen || s.showStats) p->skipBlackFill = 0;

  p->buffer = OpenBlitBuffer(p->window, info.width, info.height, s.bufferFlags);
  if (p->oldBuffer) {
    // The old buffer goes only now, so that a display mode both share stays.
    CloseBlitBuffer(p->oldBuffer);
    p->oldBuffer = nullptr;
    if (!p->buffer) p->buffer = OpenBlitBuffer(p->window, info.width, info.height, s.bufferFlags);
  }
  if (!p->buffer) {
    if (p->shell->showWindow) p->shell->showWindow(p->shell->context, 0);
    Report(p, GetBlitBufferError());
    p->exitCode = Fail(p, GetBlitBufferError());
    return kStepEnd;
  }
  SetBlitSize(p->buffer, p->targetWidth, p->targetHeight);
  PlaceWindow(p);

  const uint32_t mode = (info.openFlags & kOpenModeMask) >> kOpenModeShift;
  if (mode == 2 || mode == 5 || mode == 6) {
    // Interlaced modes leave every other row alone: black under them.
    if (p->shell->invalidate)
      p->shell->invalidate(p->shell->context, p->pictureX, p->pictureY, static_cast<int32_t>(p->buffer->blitWidth),
                           static_cast<int32_t>(p->buffer->blitHeight));
    p->skipBlackFill = 0;
  }
  return kStepDone;
}

void DrawStatsLine(Player* p) {
  GetRealtime(p->movie, &p->realtime, 0);
  BuildStatsLine(p->statsText, sizeof p->statsText, p->realtime);
  const PlayerShell* s = p->shell;
  if (s->drawText) s->drawText(s->context, p->statsText, p->band.right / 2, p->band.top, p->band);
}

void FrameStep(Player* p) {
  Movie* m = p->movie;
  BlitBuffer* b = p->buffer;
  p->skipBlackFill = 0;
  // The pass goes on to frame 1 unless it is the last play of the movie.
  SetMovieLooping(m, p->loopCounter != 1);
  DoFrame(m);
  if (LockBlitBuffer(b)) {
    CopyPictureToBuffer(m, b, b->flags | p->forceFull);
    p->forceFull &= ~kForceFullCopy;
    UnlockBlitBuffer(b);
  }
  const int32_t n = GetRects(m, b->flags);
  BlitRects(b, GetRectList(m), n);
  MovieInfo info;
  GetMovieInfo(m, &info);
  if (info.currentFrame == info.frameCount && --p->loopCounter == 0)
    p->endFlag = 1;
  else
    NextFrame(m);
  if (p->settings.showStats) DrawStatsLine(p);
}

// The built-in logo in place of the last movie, for 2250 ms.
void ShowLogo(Player* p) {
  GetSummary(p->movie, &p->summary);
  Movie* logo = OpenMovie(p->logoMovie, kOpenMemory);
  CloseMovie(p->movie);
  CloseOwnFile(p);
  p->movie = logo;
  p->logoMode = 1;
  if (!logo) return;

  const PlayerShell* sh = p->shell;
  PlayerSettings& s = p->settings;
  if (sh->fillBlack) sh->fillBlack(sh->context, 0, 0, kBlackArea, kBlackArea);
  p->loopCounter = 0xFFFFFFFFu;
  p->logoEnd = GetMilliseconds() + kLogoMs;
  s.showStats = 0;
  p->userPaused = 0;
  MovieInfo shown;
  GetMovieInfo(logo, &shown);
  const uint32_t logoWidth = shown.width, logoHeight = shown.height;
  BlitBuffer* b = p->buffer;
  if (b->width >= logoWidth && b->height >= logoHeight) {
    ClearBlitBuffer(b);
  } else {
    if ((s.bufferFlags & kPlayerBufferModeChange) && (b->screenWidth < logoWidth || b->screenHeight < logoHeight)) {
      // The changed display mode cannot hold the logo: back to the user's.
      s.bufferFlags &= ~kPlayerBufferModeChange;
      s.fillScreen = 0;
      CloseBlitBuffer(b);
      b = p->buffer = nullptr;
    }
    BlitBuffer* logoBuffer = OpenBlitBuffer(p->window, logoWidth, logoHeight, s.bufferFlags & ~kStretchBits);
    CloseBlitBuffer(b);
    b = p->buffer = logoBuffer;
    if (!b) {
      CloseMovie(logo);
      p->movie = nullptr;
      return;
    }
    if (!s.fillScreen) {
      const int32_t x = (static_cast<int32_t>(b->screenWidth) - static_cast<int32_t>(logoWidth)) / 2;
      const int32_t y = (static_cast<int32_t>(b->screenHeight) - static_cast<int32_t>(logoHeight)) / 2;
      if (sh->placeWindow)
        sh->placeWindow(sh->context, x, y, static_cast<int32_t>(b->windowWidth), static_cast<int32_t>(b->windowHeight));
      if (sh->redrawFrame) sh->redrawFrame(sh->context);
      p->pictureX = p->pictureY = 0;
    }
  }
  SetBlitSize(b, b->width, b->height);
  p->pictureX += (static_cast<int32_t>(b->width) - static_cast<int32_t>(logoWidth)) / 2;
  p->pictureY += (static_cast<int32_t>(b->height) - static_cast<int32_t>(logoHeight)) / 2;
  SetBlitPosition(b, p->pictureX, p->pictureY);
}

// The next movie: the list's entries first, then the movies named one by one.
bool TakeNextEntry(Player* p, MovieEntry* entry) {
  if (TakeMovieEntry(p->list, entry)) return true;
  if (p->names.empty()) return false;
  ClassifyNamedMovie(p->names.front().name.c_str(), entry);
  entry->dropped = p->names.front().dropped;
  p->names.erase(p->names.begin());
  return true;
}

// The current movie (or the logo) makes way for the next one.
void MakeWayForNext(Player* p) {
  CloseMovie(p->movie);
  p->movie = nullptr;
  p->oldBuffer = p->buffer;
  p->buffer = nullptr;
  CloseOwnFile(p);
  p->loopCounter = 1;
  if (!p->settings.fillScreen && p->shell->windowCorner)
    p->shell->windowCorner(p->shell->context, &p->settings.posX, &p->settings.posY);
}

// The end of the current movie: true with *entry filled when another movie
// follows, false when the logo is shown instead.
bool EndOfMovie(Player* p, MovieEntry* entry) {
  p->endFlag = 0;
  p->endState = kEndNone;
  PauseMovie(p->movie, 1);
  bool next = TakeNextEntry(p, entry);
  if (!next && --p->listRepeat != 0) {
    memcpy(p->list, p->savedList, sizeof p->list);
    p->names = p->savedNames;
    next = TakeNextEntry(p, entry);
  }
  if (!next) return false;
  MakeWayForNext(p);
  return true;
}

// Movies dropped while the logo is shown play instead of the end.
bool LeaveLogoForDrops(Player* p, MovieEntry* entry) {
  if (!p->logoMode || p->endState == kEndQuitLogo || !TakeNextEntry(p, entry)) return false;
  MakeWayForNext(p);
  p->logoMode = 0;
  p->endFlag = 0;
  p->endState = kEndNone;
  p->listRepeat = 1;
  return true;
}

// Without a movie: the window asks for some to be dropped on it and waits.
// True with *entry when one came; false when the window was closed or there
// is no such window.
bool WaitForMovie(Player* p, MovieEntry* entry) {
  const PlayerShell* s = p->shell;
  ReleaseAll(p);
  if (!s->showDropWindow) return false;
  std::string shown = p->message;
  if (!s->showDropWindow(s->context, shown.c_str())) return false;
  if (s->setTitle) s->setTitle(s->context, kNamedTitle);
  p->logoMode = 0;
  for (;;) {
    if (p->quitPending) return false;
    if (TakeNextEntry(p, entry)) {
      p->loopCounter = static_cast<uint32_t>(p->settings.loopCount);
      p->message.clear();
      return true;
    }
    if (p->message != shown) {
      shown = p->message;
      s->showDropWindow(s->context, shown.c_str());
    }
    if (!(s->pumpEvent && s->pumpEvent(s->context, p)) && s->sleepMs) s->sleepMs(s->context, 10);
  }
}

int32_t Exit(Player* p) {
  PlayerSettings& s = p->settings;
  if (s.showSummary && p->summary.framesPlayed != 0) {
    const BlitBuffer* b = p->buffer;
    BuildSummaryText(p->summaryText, sizeof p->summaryText, p->summary, GetBlitStyleName(b), b ? b->screenWidth : 0,
                     b ? b->screenHeight : 0, b ? b->screenBits : 0);
  } else {
    s.showSummary = 0;
  }
  ReleaseAll(p);
  if (s.showSummary) {
    if (p->shell->sleepMs) p->shell->sleepMs(p->shell->context, 10);
    Box(p, p->summaryText, kSummaryCaption, kBoxInformation, 0);
  }
  return 0;
}

// The sleep of one turn of the loop: each poll that finds no frame due earns
// a millisecond; time overslept is paid back later, up to 100 ms.
void Idle(Player* p) {
  if (p->idle <= 0) return;
  if (p->idle > 10) p->idle = 10;
  const uint32_t before = GetMilliseconds();
  if (p->shell->sleepMs) p->shell->sleepMs(p->shell->context, static_cast<uint32_t>(p->idle));
  p->idle -= static_cast<int32_t>(GetMilliseconds() - before);
  if (p->idle < -100) p->idle = -100;
}

void ResetPlayer(Player* p, const PlayerShell& shell, const ParsedCommandLine& parsed, const PlayerOptions& options) {
  *p = Player{};
  p->shell = &shell;
  p->settings = parsed.settings;
  memcpy(p->list, parsed.movieList, sizeof p->list);
  p->list[sizeof p->list - 1] = 0;
  for (const std::string& name : options.movies) p->names.push_back(NamedMovie{name, 0});
  p->file = os::kNoFile;
  p->loopCounter = static_cast<uint32_t>(p->settings.loopCount);
  p->listRepeat = 1;
  p->versionCheck = options.versionCheck;
  const VersionCheckServices system = VersionCheckFromSystem();
  VersionCheckServices& v = p->versionCheck;
  if (!v.buildDate) v.buildDate = system.buildDate;
  if (!v.today) v.today = system.today;
  if (!v.readStored) v.readStored = system.readStored;
  if (!v.writeStored) v.writeStored = system.writeStored;
  if (!v.sleepMs) v.sleepMs = system.sleepMs;
  if (!v.askYesNo && !v.openPage) {
    // The question and the page belong to the window.
    v.askYesNo = AskYesNo;
    v.openPage = OpenPage;
    v.askContext = p;
  }
  p->logoMovie = options.logoMovie ? options.logoMovie : BuiltInLogoMovie();
}

}  // namespace

uint32_t BuiltInDoublingMode(uint32_t width, uint32_t height, uint32_t targetWidth, uint32_t targetHeight) {
  const bool sameWidth = targetWidth == width, sameHeight = targetHeight == height;
  const bool twiceWidth = uint64_t(targetWidth) == uint64_t(width) * 2;
  const bool twiceHeight = uint64_t(targetHeight) == uint64_t(height) * 2;
  if (width == 0 || height == 0) return 0;
  if (sameWidth && twiceHeight) return 1;
  if (twiceWidth && sameHeight) return 3;
  if (twiceWidth && twiceHeight) return 4;
  return 0;
}

int32_t CentredPosition(uint32_t screenSize, uint32_t windowSize, int32_t clientOffset, bool roundTo4) {
  if (windowSize > screenSize) return -clientOffset;
  const int32_t centred = static_cast<int32_t>((screenSize - windowSize) / 2);
  return roundTo4 ? (centred & ~3) : centred;
}

int32_t RunPlayer(Player* p, const PlayerShell& shell, const ParsedCommandLine& parsed, const PlayerOptions& options) {
  ResetPlayer(p, shell, parsed, options);
  PlayerSettings& s = p->settings;

  ShellWindowRequest request{};
  request.title = kWindowTitle;
  request.topMost = s.topMost;
  request.dialogFrame = s.windowStyle != 2;
  request.caption = s.windowStyle == 0;
  request.width = request.height = 32;
  request.parentWindow = s.parentWindow;
  request.hideCursor = s.hideCursor;
  p->skipBlackFill = 1;
  const int32_t created = shell.createWindow ? shell.createWindow(shell.context, request, &p->window) : kWindowFailed;
  if (created == kWindowClassFailed) return 1;
  if (created != kWindowCreated) {
    Report(p, kWindowErrorText);
    Box(p, kWindowErrorText, kWindowErrorCaption, kBoxError, 0);
    return 1;
  }

  char soundMessage[256];
  if (!ChooseSoundSystem(s.useWaveOut, getenv(kSoundDeviceVariable), soundMessage, sizeof soundMessage)) {
    // Said once; where no terminal takes the line, a box says it.
    Report(p, soundMessage);
    if (!shell.reportError) Box(p, soundMessage, kErrorCaption, kBoxError, 0);
  }
  if (s.modeWidth != 0)
    SetDisplayModeRequest(static_cast<uint32_t>(s.modeWidth), static_cast<uint32_t>(s.modeHeight),
                          static_cast<uint32_t>(s.modeDepth));

  static MovieEntry entry;
  memcpy(p->savedList, p->list, sizeof p->list);
  p->savedNames = p->names;
  if (!TakeNextEntry(p, &entry)) {
    if (!shell.showDropWindow || !shell.showDropWindow(shell.context, "")) {
      // The command line rules leave a movie in the list where there is no
      // window to drop movies on; kept safe anyway.
      Box(p, HelpText(), kHelpCaption, kBoxInformation, 0);
      DestroyPlayerWindow(p);
      return 1;
    }
    if (!WaitForMovie(p, &entry)) return Exit(p);
  }
  if (p->list[0] != 0 || !p->names.empty()) {
    p->listRepeat = static_cast<uint32_t>(s.loopCount);
    p->loopCounter = 1;
  }

  for (;;) {
    const StepResult started = StartMovie(p, entry);
    if (started == kStepEnd) return p->exitCode;
    if (started == kStepSkip) {
      if (!TakeNextEntry(p, &entry) && !WaitForMovie(p, &entry)) return Exit(p);
      continue;
    }
    p->idle = 0;
    for (;;) {
      if (p->quitPending) return Exit(p);
      if (shell.pumpEvent && shell.pumpEvent(shell.context, p)) continue;
      if (LeaveLogoForDrops(p, &entry)) break;
      const int32_t due = WaitFrame(p->movie);
      if (due == 1 && p->endState != kEndQuit) {
        p->idle += 1;
      } else {
        if (p->endFlag || p->endState == kEndQuit) {
          if (EndOfMovie(p, &entry)) break;
          ShowLogo(p);
        }
        if (p->movie) FrameStep(p);
        if (p->userPaused) PauseMovie(p->movie, 1);
      }
      if (p->userPaused || (!p->hasFocus && !s.ignoreFocus)) p->idle += 5;
      Idle(p);
      if (p->logoMode &&
          (static_cast<int32_t>(GetMilliseconds() - p->logoEnd) > 0 || !p->movie || p->endState == kEndQuitLogo))
        DestroyPlayerWindow(p);
    }
  }
}

int32_t RunPlayerProgram(Player* player, const PlayerShell& shell, const char* realLine, int32_t screenWidth,
                         int32_t screenHeight) {
  static ParsedCommandLine parsed;
  const int32_t play = ParseProgramCommandLine(realLine, screenWidth, screenHeight, &parsed);
  if (parsed.leftOut[0] && shell.messageBox) {
    // Nothing is left out silently.
    static char text[sizeof parsed.leftOut + 128];
    snprintf(text, sizeof text, "%s\n%s", kLeftOutText, parsed.leftOut);
    shell.messageBox(shell.context, text, kWindowTitle, kBoxInformation, 0);
  }
  if (!play) {
    if (shell.messageBox) shell.messageBox(shell.context, HelpText(), kHelpCaption, kBoxInformation, 0);
    return 1;
  }
  return RunPlayer(player, shell, parsed, PlayerOptions{});
}

}  // namespace kivo
