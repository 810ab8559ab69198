// SPDX-License-Identifier: BSD-2-Clause
// The reminder to look for a newer player: offered before a movie named by a
// path is opened, only when the build is more than about two months old and
// at most about once a week, whatever the answer. Yes opens the page and
// ends the player. A build without a page address never offers it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace kivo {

constexpr char kBuildDate[] = "2002-03-15";
constexpr char kPlayerVersion[] = "1.5a";
constexpr char kVersionCheckKey[] = "LastVersionCheckDate";
constexpr char kVersionCheckCaption[] = "New version check...";
constexpr char kVersionCheckQuestion[] =
    "It's been a while since you checked for a more recent Kivo version.\n\n"
    "Would you like to check for a newer version of Kivo on the Internet?\n\n"
    "If you choose to check for a new version, Kivo will close to allow the update to install.";

constexpr size_t kDateTextSize = 11;  // "YYYY-MM-DD" and the terminator

// Dates as the comparison sees them: four-digit year, two-digit month and day.
void FormatDate(char out[kDateTextSize], int year, int month, int day);
// Two months back: the year before for January and February; the day kept
// even when that month has no such day.
void TwoMonthsAgoText(char out[kDateTextSize], os::LocalDate today);
// A week back, taking every month as 30 days long.
void WeekAgoText(char out[kDateTextSize], os::LocalDate today);

// What the check needs from its surroundings, so that tests can set the day,
// the build date and the answers. The player passes VersionCheckFromSystem().
struct VersionCheckServices {
  const char* buildDate;
  // The page Yes opens: null = the one the player was built with
  // (VersionPageAddress); empty = the offer is never made.
  const char* pageAddress;
  os::LocalDate (*today)(void* context);
  // The stored date (default: the build date) and its rewrite.
  uint32_t (*readStored)(void* context, const char* fallback, char* out, uint32_t size);
  void (*writeStored)(void* context, const char* value);
  void (*sleepMs)(void* context, uint32_t ms);
  void* context;
  // The question with Yes and No (true for Yes) and the page, which belong
  // to the window: they have a context of their own.
  bool (*askYesNo)(void* askContext, const char* text, const char* caption);
  void (*openPage)(void* askContext, const char* url);
  void* askContext;
};

// The profile, the local date and the platform's sleep; the question and
// the page are left null for the caller to fill in (they need the window).
VersionCheckServices VersionCheckFromSystem();

enum VersionCheckResult : int32_t { kVersionGoOn = 0, kVersionQuit = 1 };

// The whole offer. On kVersionQuit the page has been opened and the stored
// date rewritten; the caller destroys its window and ends with exit code 1.
VersionCheckResult RunVersionCheck(const VersionCheckServices& services);

// The page address the player was built with (the build setting
// KIVO_VERSION_CHECK_URL); empty when the offer is switched off.
const char* VersionPageAddress();

}  // namespace kivo
