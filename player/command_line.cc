// SPDX-License-Identifier: BSD-2-Clause
// The player's command line: the working line put together, its switches
// parsed into PlayerSettings, the movie list left behind, the help text.
#include "player/command_line.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "kivo/display.h"
#include "kivo/movie.h"
#include "platform/platform.h"

namespace kivo {

static_assert(kPlayerOpenRateOverride == kOpenRateOverride && kPlayerOpenPreload == kOpenPreload &&
              kPlayerOpenSoundTracks == kOpenSoundTracks && kPlayerOpenGrey == kOpenGrey &&
              kPlayerOpenNeverSkip == kOpenNeverSkip && kPlayerOpenNoFill == kOpenNoFill &&
              kPlayerOpenReadSpeed == kOpenReadSpeed && kPlayerOpenBufferSize == kOpenBufferSize &&
              kPlayerOpenNoReader == kOpenNoReader && kPlayerOpenModeShift == kOpenModeShift);

namespace {

// ---- The working text ----------------------------------------------------

struct WorkText {
  char* s;
  uint32_t len;
};

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// Not above '/': what may follow a flag switch (the terminator included).
bool EndsFlag(char c) { return static_cast<unsigned char>(c) <= '/'; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool SameLetter(char a, char b) { return Upper(a) == Upper(b); }

void Erase(WorkText* t, uint32_t pos, uint32_t count) {
  memmove(t->s + pos, t->s + pos + count, t->len - pos - count + 1);
  t->len -= count;
}

// Appends `text` (at most `limit` characters of it are considered). What does
// not fit before the buffer's end is left out at the last blank that fits, so
// that no movie name or switch is cut in two; the part left out is added to
// `leftOut` for the player to say.
void AppendWhole(WorkText* t, const char* text, uint32_t limit, char* leftOut, size_t leftOutSize) {
  uint32_t n = 0;
  while (n < limit && text[n]) ++n;
  uint32_t room = kCommandLineSize - 1 - t->len;
  const uint32_t whole = n;
  if (n > room) {
    uint32_t keep = room;
    while (keep > 0 && !IsBlank(text[keep])) --keep;
    n = keep;
  }
  memcpy(t->s + t->len, text, n);
  t->len += n;
  t->s[t->len] = 0;
  uint32_t from = n, to = whole;
  while (from < to && IsBlank(text[from])) ++from;
  while (to > from && IsBlank(text[to - 1])) --to;
  if (from == to) return;
  const size_t used = strlen(leftOut);
  snprintf(leftOut + used, leftOutSize - used, "%s%.*s", used ? " " : "", int(to - from), text + from);
}

// ---- Putting the line together -------------------------------------------

// The end of a cancelled switch's argument starting at `pos`, not beyond
// `limit`: up to a blank or '/', or through a quoted text and its closing
// quote (an unclosed quote runs to `limit`).
uint32_t ArgumentEnd(const WorkText& t, uint32_t pos, uint32_t limit) {
  if (pos < limit && t.s[pos] == '"') {
    for (uint32_t q = pos + 1; q < limit; ++q)
      if (t.s[q] == '"') return q + 1;
    return limit;
  }
  while (pos < limit && !IsBlank(t.s[pos]) && t.s[pos] != '/') ++pos;
  return pos;
}

// Every /-X removes the switches /X standing before it, then itself.
void ApplyCancellations(WorkText* t) {
  uint32_t p = 0;
  while (p + 1 < t->len) {
    if (t->s[p] != '/' || t->s[p + 1] != '-') {
      ++p;
      continue;
    }
    if (p + 2 == t->len) {  // a bare /- at the end
      Erase(t, p, 2);
      return;
    }
    char letter = t->s[p + 2];
    uint32_t q = 0;
    while (q + 1 < p) {
      if (t->s[q] == '/' && SameLetter(t->s[q + 1], letter)) {
        uint32_t end = ArgumentEnd(*t, q + 2, p);
        Erase(t, q, end - q);
        p -= end - q;
      } else {
        ++q;
      }
    }
    Erase(t, p, 3);
  }
}

// The first /! that stands alone is replaced by the profile's switches,
// appended at the end.
void ApplyProfileSwitch(WorkText* t, const CommandLineSources& sources, char* leftOut, size_t leftOutSize) {
  for (uint32_t p = 0; p + 1 < t->len; ++p) {
    if (t->s[p] == '/' && t->s[p + 1] == '!' && EndsFlag(t->s[p + 2])) {
      Erase(t, p, 2);
      char value[kProfileLineLimit + 1] = {};
      if (sources.readQuickPlay) {
        sources.readQuickPlay(sources.context, value, sizeof value);
        value[kProfileLineLimit] = 0;
      }
      AppendWhole(t, value, kProfileLineLimit, leftOut, leftOutSize);
      return;
    }
  }
}

// ---- Switch kinds --------------------------------------------------------

// The position of the first "/X" (X without regard to case) whose next
// characters pass `fits`; t.len when there is none.
template <typename Fits>
uint32_t FindSwitch(const WorkText& t, char letter, Fits fits) {
  for (uint32_t p = 0; p + 1 < t.len; ++p)
    if (t.s[p] == '/' && SameLetter(t.s[p + 1], letter) && fits(t.s + p + 2)) return p;
  return t.len;
}

bool StartsNumber(const char* c) { return IsDigit(c[0]) || (c[0] == '-' && IsDigit(c[1])); }

// Reads digits from *pos on, continuing *value (32-bit, wrapping); each digit
// multiplies *scale by ten when given.
void ReadDigits(const WorkText& t, uint32_t* pos, uint32_t* value, uint32_t* scale) {
  while (IsDigit(t.s[*pos])) {
    *value = *value * 10u + static_cast<uint32_t>(t.s[*pos] - '0');
    if (scale) *scale *= 10u;
    ++*pos;
  }
}

bool TakeNumber(WorkText* t, char letter, int32_t* value) {
  uint32_t p = FindSwitch(*t, letter, StartsNumber);
  if (p == t->len) return false;
  uint32_t pos = p + 2;
  bool negative = t->s[pos] == '-';
  if (negative) ++pos;
  uint32_t v = 0;
  ReadDigits(*t, &pos, &v, nullptr);
  *value = static_cast<int32_t>(negative ? 0u - v : v);
  Erase(t, p, pos - p);
  return true;
}

uint32_t Gcd(uint32_t a, uint32_t b) {
  while (b != 0) {
    uint32_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

void Reduce(uint32_t* num, uint32_t* den) {
  uint32_t g = Gcd(*num, *den);
  if (g > 1) {
    *num /= g;
    *den /= g;
  }
}

// digits[.digits] as a reduced fraction: 12.5 is 125 / 10, then 25 / 2.
void ReadDecimal(const WorkText& t, uint32_t* pos, uint32_t* num, uint32_t* den) {
  *num = 0;
  *den = 1;
  ReadDigits(t, pos, num, nullptr);
  if (t.s[*pos] == '.' && IsDigit(t.s[*pos + 1])) {
    ++*pos;
    ReadDigits(t, pos, num, den);
  }
  Reduce(num, den);
}

bool TakeFraction(WorkText* t, char letter, int32_t* num, int32_t* den) {
  uint32_t p = FindSwitch(*t, letter, StartsNumber);
  if (p == t->len) return false;
  uint32_t pos = p + 2;
  bool negative = t->s[pos] == '-';
  if (negative) ++pos;
  uint32_t n, d;
  ReadDecimal(*t, &pos, &n, &d);
  if (t->s[pos] == ';' && IsDigit(t->s[pos + 1])) {
    ++pos;
    uint32_t n2, d2;
    ReadDecimal(*t, &pos, &n2, &d2);
    n *= d2;
    d *= n2;
  }
  Reduce(&n, &d);
  if (d == 0) d = 1;
  *num = static_cast<int32_t>(negative ? 0u - n : n);
  *den = static_cast<int32_t>(d);
  Erase(t, p, pos - p);
  return true;
}

bool TakeFlag(WorkText* t, char letter) {
  uint32_t p = FindSwitch(*t, letter, [](const char* c) { return EndsFlag(c[0]); });
  if (p == t->len) return false;
  Erase(t, p, 2);
  return true;
}

// ---- The switches --------------------------------------------------------

// Parses every switch in its fixed order; false when a value lies outside
// what the player can act on (a /D outside its tables).
bool ParseSwitches(WorkText* t, PlayerSettings* s, char* leftover, size_t leftoverSize) {
  int32_t v, num, den;
  if (TakeNumber(t, 'L', &v))
    s->loopCount = v;
  else if (TakeFlag(t, 'L'))
    s->loopCount = 0;
  if (TakeNumber(t, '#', &v)) s->parentWindow = v;

  bool rate = TakeFraction(t, 'F', &num, &den);
  if (!rate && TakeFlag(t, 'F')) {
    rate = true;
    num = den = 0;
  }
  if (rate && num != -1 && den != -1) {
    s->rateNum = num;
    s->rateDen = den;
    s->openFlags |= kPlayerOpenRateOverride;
  }

  if (TakeNumber(t, 'T', &v)) {
    s->soundTrack = v;
    if (v != 0) s->openFlags |= kPlayerOpenSoundTracks;
  }
  if (TakeNumber(t, 'M', &v)) {
    s->readSpeed = v;
    if (v != 0) s->openFlags |= kPlayerOpenReadSpeed;
  }
  if (TakeNumber(t, 'E', &v)) {
    s->readBufferSize = v;
    if (v != -1) s->openFlags |= kPlayerOpenBufferSize;
  }
  if (TakeNumber(t, 'U', &v)) s->disableControls = v;
  if (TakeNumber(t, 'I', &v)) {
    s->topMost = static_cast<int32_t>(static_cast<uint32_t>(v) / 100u);
    s->windowStyle = static_cast<int32_t>(static_cast<uint32_t>(v) % 100u);
  }
  if (TakeFlag(t, 'Z')) s->useWaveOut = 1;
  if (TakeFlag(t, 'S')) s->showSummary = 1;
  if (TakeFlag(t, 'Q')) s->showStats = 1;
  if (TakeFlag(t, 'J')) s->ignoreFocus = 1;
  if (TakeFlag(t, 'R')) {
    s->fillScreen = 1;
    s->windowStyle = 2;
  }
  if (TakeFlag(t, 'C')) s->hideCursor = 1;
  if (TakeFlag(t, 'N')) s->openFlags |= kPlayerOpenNeverSkip;
  if (TakeFlag(t, 'G')) s->openFlags |= kPlayerOpenNoFill;
  if (TakeFlag(t, 'P')) s->openFlags |= kPlayerOpenPreload;
  if (TakeFlag(t, 'K')) s->openFlags |= kPlayerOpenNoReader;
  if (TakeNumber(t, 'A', &v)) {
    uint32_t u = static_cast<uint32_t>(v);
    if (u / 100u == 1) s->openFlags |= kPlayerOpenGrey;
    uint32_t mode = u % 100u < 7 ? u % 100u : 7;
    s->openFlags |= mode << kPlayerOpenModeShift;
  }
  if (TakeNumber(t, 'X', &v)) s->posX = v;
  if (TakeNumber(t, 'Y', &v)) s->posY = v;
  if (TakeFraction(t, 'W', &num, &den)) {
    s->stretchWNum = num;
    s->stretchWDen = den;
  }
  if (TakeFraction(t, 'H', &num, &den)) {
    s->stretchHNum = num;
    s->stretchHDen = den;
  }

  bool valid = true;
  if (TakeNumber(t, 'D', &v) && v != 0) {
    uint32_t u = static_cast<uint32_t>(v);
    int32_t width, height, depth;
    if (DisplayResolution(u % 100u, &width, &height) && DisplayDepthCode(u / 100u, &depth)) {
      s->bufferFlags |= kPlayerBufferModeChange;
      s->screenWidth = s->modeWidth = width;
      s->screenHeight = s->modeHeight = height;
      s->modeDepth = depth;
    } else {
      valid = false;  // shown as the help text, which lists the tables
      snprintf(leftover, leftoverSize, "/D%i", int(v));
    }
  }
  if (TakeNumber(t, 'B', &v)) s->bufferFlags |= static_cast<uint32_t>(v);
  return valid;
}

uint32_t ReadQuickPlayFromProfile(void*, char* out, uint32_t size) {
  return os::ReadProfileText(kProfileSection, kQuickPlayKey, "", out, size);
}

const char kWindowsHelpHead[] =
    "KivoPlay  V 1.5a  -  plays Kivo movies\n"
    "  SYNTAX: KivoPlay <Kivo1 Kivo2 ...> [/Switches]:\n";

// The switch lines of both programs, up to the blitting styles, which each
// build lists from its own styles.
const char kSwitchLines[] =
    "    /P  \t- Preload the entire Kivo video into memory.\n"
    "    /L##\t- Loop the animation (just/L for infinite).\n"
    "    /F#.#\t- Use this frame rate (just /F for fast).\n"
    "    /T##\t- Play the specified sound track.\n"
    "    /Z  \t- Use waveOut instead of DirectSound for audio output.\n"
    "    /S  \t- Show the playback summary when finished.\n"
    "    /X##\t- Specifies the X coordinate of the playback.\n"
    "    /Y##\t- Specifies the Y coordinate of the playback.\n"
    "    /W#.#\t- Stretch to this width in pixels (can be slow). Use negative numbers for\n"
    "         \t    scaling (i.e. for 2x, use '/w-2').  For full screen, use -1 ('/w-1').\n"
    "    /H#.#\t- Stretch to this height in pixels (can be slow).\n"
    "    /R   \t- Fill the screen with a black background.\n"
    "    /C   \t- Hide the cursor when in the Kivo window.\n"
    "    /M##\t- Simulate this read speed (in bytes/second).\n"
    "    /E##\t- Specified the amount of memory for read buffering.\n"
    "    /G  \t- Don't load the read buffer when opening the Kivo (faster opening).\n"
    "    /K  \t- Do not use multi-threaded device reading.\n"
    "    /U##\t- Disable controls: 1=pause, 2=skip, 4=quit.\n"
    "    /N  \t- Never skip frames when falling behind.\n"
    "    /Q  \t- Show run-time playback statistics.\n"
    "    /J  \t- Don't pause the video when the focus is lost.\n"
    "    /I# \t- Window style: 0=normal, 1=no caption, 2=nothing.  Add 100 for always-on-top.\n"
    "    /A##\t- Display options: 1=2x height doubled, 2=2x height interlaced, 3=2x width doubled,\n"
    "        \t    4=2x width and height doubled, 5=2x width doubled and height interlaced,\n"
    "        \t    6=1x height interlaced, 7=force none. Add 100 for grayscale.\n"
    "    /D##\t- Display resolution: 1=320x200, 2=320x240, 3=320x400, 4=400x300, 5=480x360,\n"
    "        \t    6=512x384, 7=640x400, 8=640x480, 9=800x600, 10=960x720, 11=1024x768,\n"
    "        \t    12=1152x864, 13=1280x1024. To set the color depth, add: 0 for 16-bit,\n"
    "        \t    100 for 24-bit, 200 for 32-bit, 300 for 8-bit, 400 for at least\n"
    "        \t    high-color (16, 32, then 24), 500 to try true-color (32, 24, then 16),\n"
    "        \t    and 600 for true-color only (32, then 24).\n";

struct TextOut {
  char* s;
  size_t size;
  size_t len;
};

void Put(TextOut* t, const char* text, size_t n) {
  if (t->len + n + 1 > t->size) n = t->size - t->len - 1;
  memcpy(t->s + t->len, text, n);
  t->len += n;
  t->s[t->len] = 0;
}
void Put(TextOut* t, const char* text) { Put(t, text, strlen(text)); }

// A switch's description cut into lines of at most `width` characters at
// blanks, the later ones indented as continuation lines.
void PutWrapped(TextOut* t, const char* column, const char* text, size_t width) {
  Put(t, "    ");
  Put(t, column);
  Put(t, "\t- ");
  for (bool first = true; *text; first = false) {
    size_t n = strlen(text);
    if (n > width) {
      n = width;
      while (n > 0 && text[n] != ' ') --n;
      if (n == 0) n = width;
    }
    if (!first) Put(t, "        \t    ");
    Put(t, text, n);
    Put(t, "\n");
    text += n;
    while (*text == ' ') ++text;
  }
}

// How a program's help lists the blitting styles: its words for automatic
// choice, what stands between two styles, and its line width.
struct StyleListing {
  const char* automatic;
  const char* separator;
  size_t width;
};

// The /B line: every style of the build's list by its number and the words
// the help has for it.
void PutStyles(TextOut* t, const StyleListing& listing) {
  char styles[1024];
  size_t n = static_cast<size_t>(snprintf(styles, sizeof styles, "Blitting style: %s", listing.automatic));
  for (int32_t i = 0, number; n < sizeof styles && (number = GetBlitStyleListEntry(i, nullptr, nullptr)) >= 0; ++i) {
    const char* words = GetBlitStyleHelpText(number);
    if (!words[0]) continue;
    n += static_cast<size_t>(snprintf(styles + n, sizeof styles - n, "%s%i=%s", listing.separator, int(number), words));
  }
  if (n < sizeof styles) snprintf(styles + n, sizeof styles - n, ".");
  PutWrapped(t, "/B##", styles, listing.width);
}

// The Windows help: the switches as the program has always listed them.
void BuildWindowsHelpText(char* out, size_t size) {
  TextOut t{out, size, 0};
  out[0] = 0;
  Put(&t, kWindowsHelpHead);
  Put(&t, kSwitchLines);
  PutStyles(&t, StyleListing{"0=Automatic", ", ", 73});
}

// The Linux help: the GNU options, then the same switch lines with the sound
// driver and the window style as this build has them.
constexpr size_t kLinuxWidth = 76;

void BuildLinuxHelpText(char* out, size_t size) {
  TextOut t{out, size, 0};
  out[0] = 0;
  Put(&t,
      "kivoplay  V 1.5a  -  plays Kivo movies\n"
      "Usage: kivoplay [OPTION]... MOVIE... [/SWITCHES]\n"
      "  -h, --help\tshow this help and exit\n"
      "  --version\tshow the version and exit\n"
      "  --\t\tend of the options: every later argument is a movie\n"
      "  An argument naming an existing file is a movie, whatever slashes it holds;\n"
      "  other arguments beginning with '/' are switches, glued ones too (/S/J).\n"
      "  SYNTAX: kivoplay <Kivo1 Kivo2 ...> [/Switches]:\n");
  for (const char* line = kSwitchLines; *line;) {
    const char* end = strchr(line, '\n') + 1;
    if (strncmp(line, "    /I# ", 8) == 0) {
      PutWrapped(&t, "/I# ",
                 "Window style: 0=normal, 1=framed (SDL cannot drop the caption alone), 2=nothing.  "
                 "Add 100 for always-on-top.",
                 kLinuxWidth);
    } else if (strncmp(line, "    /Z  ", 8) == 0) {
#if defined(KIVO_HAVE_SDL)
      PutWrapped(&t, "/Z  ", "Play sound through the SDL audio buffer queue instead of the SDL audio looping buffer.",
                 kLinuxWidth);
#else
      PutWrapped(&t, "/Z  ", "No effect: this build has no sound output (movies play silent).", kLinuxWidth);
#endif
    } else {
      Put(&t, line, size_t(end - line));
    }
    line = end;
  }
  PutStyles(&t, StyleListing{"0=Automatic (1, then 2)", "; ", kLinuxWidth});
}

}  // namespace

int32_t ParseCommandLine(const CommandLineSources& sources, ParsedCommandLine* out) {
  out->settings = PlayerSettings{};
  out->settings.screenWidth = sources.screenWidth;
  out->settings.screenHeight = sources.screenHeight;
  out->movieList[0] = 0;
  WorkText t{out->movieList, 0};

  // The stored default part ends at its first '~' (the rest is room kept
  // for editing it inside the program file).
  if (sources.defaultLine) {
    uint32_t n = 0;
    while (n < kDefaultLineLimit && sources.defaultLine[n] && sources.defaultLine[n] != '~') ++n;
    memcpy(t.s, sources.defaultLine, n);
    t.len = n;
    t.s[n] = 0;
  }
  // Joined with no separator: a trailing number switch of the default part
  // runs on into a real line that begins with digits.
  out->leftOut[0] = 0;
  if (sources.realLine)
    AppendWhole(&t, sources.realLine, uint32_t(strlen(sources.realLine)), out->leftOut, sizeof out->leftOut);
  ApplyCancellations(&t);
  ApplyProfileSwitch(&t, sources, out->leftOut, sizeof out->leftOut);

  out->leftover[0] = 0;
  bool valid = ParseSwitches(&t, &out->settings, out->leftover, sizeof out->leftover);
  bool onlyBlanks = true;
  for (uint32_t i = 0; i < t.len; ++i) {
    if (t.s[i] == '/' && valid) {
      // The switch no rule took, up to the next blank.
      uint32_t end = i;
      while (end < t.len && !IsBlank(t.s[end])) ++end;
      snprintf(out->leftover, sizeof out->leftover, "%.*s", int(end - i), t.s + i);
      valid = false;
    }
    if (!IsBlank(t.s[i])) onlyBlanks = false;
  }
  out->showHelp = (!valid || onlyBlanks) ? 1 : 0;
  return out->showHelp ? 0 : 1;
}

int32_t ParseProgramCommandLine(const char* realLine, int32_t screenWidth, int32_t screenHeight,
                                ParsedCommandLine* out) {
  char stored[kDefaultLineLimit + 2] = {};
  os::LoadDefaultCommandLine(stored, sizeof stored);
  CommandLineSources sources{stored, realLine, ReadQuickPlayFromProfile, nullptr, screenWidth, screenHeight};
  return ParseCommandLine(sources, out);
}

namespace {

bool SystemIsFile(void*, const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

bool SystemIsDirectory(void*, const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool EndsInKiv(const char* arg) {
  const size_t n = strlen(arg);
  return n >= 4 && arg[n - 4] == '.' && Upper(arg[n - 3]) == 'K' && Upper(arg[n - 2]) == 'I' &&
         Upper(arg[n - 1]) == 'V';
}

// Whether an argument beginning with '/' or '-' names a movie (see
// JoinProgramArguments); other arguments always do.
bool NamesMovie(const char* arg, const FileFacts& facts) {
  if (arg[0] != '/' && arg[0] != '-') return true;
  if ((facts.isFile && facts.isFile(facts.context, arg)) ||
      (facts.isDirectory && facts.isDirectory(facts.context, arg)) || EndsInKiv(arg))
    return true;
  if (arg[0] != '/') return false;
  // "/home/me/gone": its top folder exists. "/S/J" has none: switches.
  const char* second = strchr(arg + 1, '/');
  if (!second || !facts.isDirectory) return false;
  const std::string top(arg, size_t(second - arg));
  return facts.isDirectory(facts.context, top.c_str());
}

}  // namespace

FileFacts SystemFileFacts() { return FileFacts{SystemIsFile, SystemIsDirectory, nullptr}; }

ProgramArguments JoinProgramArguments(int argc, const char* const* argv, const FileFacts& facts, char* out,
                                      uint32_t size, std::vector<std::string>* movies) {
  ProgramArguments result{kActionPlay, 0, nullptr};
  if (!out || size == 0) return result;
  out[0] = 0;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!arg || !*arg) continue;
    if (!optionsEnded) {
      if (strcmp(arg, "--") == 0) {
        optionsEnded = true;
        continue;
      }
      if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) return ProgramArguments{kActionHelp, 0, nullptr};
      if (strcmp(arg, "--version") == 0) return ProgramArguments{kActionVersion, 0, nullptr};
      if (!NamesMovie(arg, facts)) {
        if (arg[0] == '-') return ProgramArguments{kActionBadOption, 0, arg};
        const uint32_t n = static_cast<uint32_t>(strlen(arg));
        if (result.length + n + 2 > size) continue;
        if (result.length) out[result.length++] = ' ';
        memcpy(out + result.length, arg, n + 1);
        result.length += n;
        continue;
      }
    }
    if (movies) movies->push_back(arg);
  }
  return result;
}

const char* WindowsHelpText() {
  static char text[4096];
  if (!text[0]) BuildWindowsHelpText(text, sizeof text);
  return text;
}

const char* LinuxHelpText() {
  static char text[6144];
  if (!text[0]) BuildLinuxHelpText(text, sizeof text);
  return text;
}

const char* HelpText() {
#if defined(_WIN32)
  return WindowsHelpText();
#else
  return LinuxHelpText();
#endif
}

bool DisplayResolution(uint32_t index, int32_t* width, int32_t* height) {
  static const int32_t kSizes[13][2] = {{320, 200}, {320, 240}, {320, 400}, {400, 300},  {480, 360},
                                        {512, 384}, {640, 400}, {640, 480}, {800, 600},  {960, 720},
                                        {1024, 768}, {1152, 864}, {1280, 1024}};
  if (index < 1 || index > 13) return false;
  *width = kSizes[index - 1][0];
  *height = kSizes[index - 1][1];
  return true;
}

bool DisplayDepthCode(uint32_t part, int32_t* depthCode) {
  static const int32_t kCodes[7] = {16, 24, 32, 8, 1, 2, 3};
  if (part > 6) return false;
  *depthCode = kCodes[part];
  return true;
}

uint32_t StretchSize(int32_t num, int32_t den, uint32_t movieSize, uint32_t screenSize, uint32_t baseBit,
                     uint32_t* bufferFlags) {
  uint32_t m = movieSize;
  uint32_t t;
  if (num == 0 || den == 0) return m;
  if (num > 0) {
    t = static_cast<uint32_t>(num) / static_cast<uint32_t>(den);
  } else if (num == -1 && den == 1) {
    t = screenSize;
  } else {
    uint64_t scaled = uint64_t(m) * (0u - static_cast<uint32_t>(num)) / static_cast<uint32_t>(den);
    t = scaled > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(scaled);
  }
  // A target of nothing cannot be shown: no stretch rather than a picture
  // of no width flagged as an enlargement.
  if (t == 0) return m;
  uint32_t kind = 0;
  if (m != 0 && t != m && t % m == 0)
    kind = kStretchEnlargeWhole;
  else if (t != m && m % t == 0)
    kind = kStretchShrinkWhole;
  else if (t > m)
    kind = kStretchEnlarge;
  else if (t < m)
    kind = kStretchShrink;
  *bufferFlags |= baseBit * kind;
  return t;
}

void StretchTargets(PlayerSettings* settings, uint32_t movieWidth, uint32_t movieHeight, uint32_t* targetWidth,
                    uint32_t* targetHeight) {
  *targetWidth = StretchSize(settings->stretchWNum, settings->stretchWDen, movieWidth,
                             static_cast<uint32_t>(settings->screenWidth), kPlayerStretchWidthBit,
                             &settings->bufferFlags);
  *targetHeight = StretchSize(settings->stretchHNum, settings->stretchHDen, movieHeight,
                              static_cast<uint32_t>(settings->screenHeight), kPlayerStretchHeightBit,
                              &settings->bufferFlags);
}

}  // namespace kivo
