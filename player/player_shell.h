// SPDX-License-Identifier: BSD-2-Clause
// What the player's portable logic asks of the system it runs on: one table
// of operations that each shell (Windows, SDL, the tests' stand-in) fills in,
// and the event handlers a shell calls when its window hears something.
#pragma once

#include <cstdint>

namespace kivo {

struct Player;

constexpr char kWindowTitle[] = "Kivo Video Player";
// Where the shell can name the movie: "MOVIE — Kivo Player", and this alone
// while the window waits for movies.
constexpr char kNamedTitle[] = "Kivo Player";
constexpr char kNamedTitleDash[] = " \xE2\x80\x94 ";
constexpr char kWindowClass[] = "KivoWin";

enum ShellBoxKind : int32_t {
  kBoxError = 0,        // an icon of error, an OK button
  kBoxInformation = 1,  // an icon of information, an OK button
  kBoxQuestion = 2,     // a question with Yes and No
};
constexpr int32_t kBoxAnswerYes = 1;

enum ShellCreateResult : int32_t {
  kWindowCreated = 0,
  kWindowClassFailed = 1,  // nothing to show: the program just ends
  kWindowFailed = 2,
};

// The window the player asks for, 32 x 32 until a movie sizes it.
struct ShellWindowRequest {
  const char* title;
  int32_t topMost;       // always on top
  int32_t dialogFrame;   // a thin frame (all but window style 2)
  int32_t caption;       // a caption bar (window style 0)
  int32_t width, height;
  int32_t parentWindow;  // a system window handle to live under, 0 = none
  int32_t hideCursor;    // no visible cursor over the window
};

// The statistics line's rectangle in window coordinates.
struct PlayerBand {
  int32_t left, top, right, bottom;
};

struct PlayerShell {
  void* context;
  // Creates the window; *window is what the display buffer is opened on
  // (null: no display, the picture goes to memory).
  int32_t (*createWindow)(void* context, const ShellWindowRequest& request, void** window);
  // Destroys the window. The player goes to its exit at once: a quit this
  // causes must not be left waiting for the summary box shown there.
  void (*destroyWindow)(void* context);
  // Moves and sizes the window (outer size, frame included).
  void (*placeWindow)(void* context, int32_t x, int32_t y, int32_t width, int32_t height);
  void (*showWindow)(void* context, int32_t shown);
  // The frame and caption drawn again after a move.
  void (*redrawFrame)(void* context);
  // The window's current top-left corner on the screen.
  void (*windowCorner)(void* context, int32_t* x, int32_t* y);
  // Marks an area of the client for the next paint, without erasing it.
  void (*invalidate)(void* context, int32_t x, int32_t y, int32_t width, int32_t height);
  // Paints an area of the client black (the open buffer's picture is drawn
  // over it by the caller).
  void (*fillBlack)(void* context, int32_t x, int32_t y, int32_t width, int32_t height);
  // The size of a text in the window's font; 0 when it cannot be measured.
  int32_t (*measureText)(void* context, const char* text, uint32_t length, int32_t* width, int32_t* height);
  // Yellow on black, centred on x, top at y, the band painted behind it.
  void (*drawText)(void* context, const char* text, int32_t x, int32_t y, const PlayerBand& band);
  // Hands at most one waiting event to the handlers below; 0 when none waits.
  int32_t (*pumpEvent)(void* context, Player* player);
  void (*sleepMs)(void* context, uint32_t ms);
  // owned: the box belongs to the player's window. Returns kBoxAnswerYes for
  // a Yes to a question.
  int32_t (*messageBox)(void* context, const char* text, const char* caption, int32_t kind, int32_t owned);
  void (*openWebPage)(void* context, const char* url);
  // The player's own program file, for movies stored inside it; false when
  // it cannot be named.
  bool (*programPath)(void* context, char* out, uint32_t size);
  // One line for a terminal besides the box, naming what could not be
  // played and why ("x.kiv: No such file or directory"); every failure is
  // reported here once. May be null where the program has no terminal; when
  // set, the box of a movie that cannot be opened shows the same line.
  void (*reportError)(void* context, const char* text);
  // Names the movie in the window's title. May be null: the title stays.
  void (*setTitle)(void* context, const char* title);
  // Shows the window that waits for movies to be dropped on it, with
  // `message` (when not empty) below its text. May be null, or answer
  // false: there is no such window, and no movie is the help text.
  bool (*showDropWindow)(void* context, const char* message);
};

// ---- Events a shell turns its window's messages into --------------------
// The window is gone or was closed by the user: the loop goes to the exit.
void PlayerOnQuit(Player* player);
void PlayerOnFocus(Player* player, bool gained);
// The window must be drawn again.
void PlayerOnPaint(Player* player);
// A typed character: space, Enter (13), '.', Esc (27).
void PlayerOnCharacter(Player* player, uint32_t character);
void PlayerOnLeftButtonUp(Player* player);
// The window is about to move to (*x, *y) (its outer corner): may change it.
void PlayerOnWindowMoving(Player* player, int32_t* x, int32_t* y);
void PlayerOnWindowMoved(Player* player);
// A file dropped on the window, or chosen with the shell's file chooser:
// played after the movies already listed (a folder is refused with a message).
void PlayerOnDrop(Player* player, const char* path);
// Asked from outside to end (a signal): the exit at once, without the summary.
void PlayerOnTerminate(Player* player);

}  // namespace kivo
