// SPDX-License-Identifier: BSD-2-Clause
// A minimal Kivo player on SDL2: one window, the movie's sound, space to
// pause, Esc or closing the window to quit. It plays the movie once.
//
//   sdl_player MOVIE [--track ID] [--frames N]
//
// --track plays the sound track with that id (default 0); --frames stops
// after N frames (for unattended runs).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <SDL.h>
#include <kivo/kivo.h>

namespace {

int Fail(const char* what, const char* detail) {
  fprintf(stderr, "sdl_player: %s: %s\n", what, detail);
  return 1;
}

struct Player {
  kivo::Movie* movie;
  kivo::BlitBuffer* buffer;
  bool quit = false;
  bool paused = false;
  uint32_t shown = 0;
};

void HandleEvents(Player* p) {
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    if (e.type == SDL_QUIT) {
      p->quit = true;
    } else if (e.type == SDL_KEYDOWN && e.key.keysym.sym == SDLK_ESCAPE) {
      p->quit = true;
    } else if (e.type == SDL_KEYDOWN && e.key.keysym.sym == SDLK_SPACE && !e.key.repeat) {
      p->paused = kivo::PauseMovie(p->movie, p->paused ? 0 : 1) != 0;
    } else if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_EXPOSED) {
      kivo::BlitRects(p->buffer, nullptr, 1);  // repaint the whole picture
    }
  }
}

// Decodes the loaded frame, copies it into the buffer and shows what changed.
void ShowFrame(Player* p) {
  kivo::DoFrame(p->movie);
  kivo::BlitBuffer* b = p->buffer;
  if (kivo::LockBlitBuffer(b)) {
    // The buffer's flags carry its pixel format and, after a lost surface,
    // the request for a full copy.
    kivo::CopyToBuffer(p->movie, b->lockedPointer, b->lockedPitch, b->height, 0, 0, b->flags);
    kivo::UnlockBlitBuffer(b);
  }
  const int32_t count = kivo::GetRects(p->movie, b->flags);
  kivo::BlitRects(b, kivo::GetRectList(p->movie), count);
  ++p->shown;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: sdl_player MOVIE [--track ID] [--frames N]\n");
    return 1;
  }
  uint32_t maxFrames = 0, track = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--frames")) maxFrames = uint32_t(strtoul(argv[i + 1], nullptr, 10));
    else if (!strcmp(argv[i], "--track")) track = uint32_t(strtoul(argv[i + 1], nullptr, 10));
  }
  if (!KIVO_CHECK_VERSION()) return Fail("library", "built for another version");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return Fail("SDL", SDL_GetError());

  // Before the first open; without a sound device the movie plays silent.
  kivo::SetSoundSystem(kivo::SelectDirectSoundDriver, nullptr);
  kivo::SetSoundTracks(1, &track);
  Player p{};
  p.movie = kivo::OpenMovie(argv[1], kivo::kOpenSoundTracks);
  if (!p.movie) {
    SDL_Quit();
    return Fail(argv[1], kivo::GetErrorText());
  }
  kivo::MovieInfo info;
  kivo::GetMovieInfo(p.movie, &info);
  SDL_Window* window = SDL_CreateWindow("Kivo", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, int(info.width),
                                        int(info.height), 0);
  p.buffer = window ? kivo::OpenBlitBuffer(window, info.width, info.height, 0) : nullptr;
  if (!p.buffer) {
    const char* why = window ? kivo::GetBlitBufferError() : SDL_GetError();
    fprintf(stderr, "sdl_player: no display buffer: %s\n", why);
    kivo::CloseMovie(p.movie);
    if (window) SDL_DestroyWindow(window);
    SDL_Quit();
    return 1;
  }
  printf("%s: %u x %u, %u frames, %s, sound %s\n", argv[1], info.width, info.height, info.frameCount,
         kivo::GetBlitStyleName(p.buffer), info.openTrackCount ? "on" : "off");

  while (!p.quit) {
    HandleEvents(&p);
    if (p.quit) break;
    if (kivo::WaitFrame(p.movie)) {
      SDL_Delay(1);  // not due yet (or paused): WaitFrame read ahead meanwhile
      continue;
    }
    ShowFrame(&p);
    kivo::GetMovieInfo(p.movie, &info);
    if (info.currentFrame == info.frameCount || (maxFrames && p.shown >= maxFrames)) break;
    kivo::NextFrame(p.movie);
  }

  kivo::MovieSummary summary;
  kivo::GetSummary(p.movie, &summary);
  printf("played %u frames in %u ms, %u copies skipped, %u sound skips\n", summary.framesPlayed, summary.totalMs,
         summary.skippedBlits, summary.soundSkips);
  kivo::CloseBlitBuffer(p.buffer);
  kivo::CloseMovie(p.movie);
  SDL_DestroyWindow(window);
  SDL_Quit();
  return 0;
}
