// SPDX-License-Identifier: BSD-2-Clause
// The version-check offer: date texts compared byte by byte, the stored
// check date written before the question so that a No also waits a week.
#include "player/version_check.h"

#include <cstdio>
#include <cstring>

#include "player/command_line.h"

namespace kivo {

namespace {

os::LocalDate SystemToday(void*) { return os::TodayLocal(); }

uint32_t ReadStoredDate(void*, const char* fallback, char* out, uint32_t size) {
  return os::ReadProfileText(kProfileSection, kVersionCheckKey, fallback, out, size);
}

void WriteStoredDate(void*, const char* value) { os::WriteProfileText(kProfileSection, kVersionCheckKey, value); }

void SystemSleep(void*, uint32_t ms) { os::SleepMs(ms); }

void StoreToday(const VersionCheckServices& s) {
  const os::LocalDate d = s.today(s.context);
  char text[kDateTextSize];
  FormatDate(text, d.year, d.month, d.day);
  if (s.writeStored) s.writeStored(s.context, text);
}

}  // namespace

void FormatDate(char out[kDateTextSize], int year, int month, int day) {
  // Kept to the field widths even for values a real date never has, so the
  // text never outgrows its buffer.
  const unsigned y = static_cast<unsigned>(year) % 10000u;
  const unsigned m = static_cast<unsigned>(month) % 100u;
  const unsigned d = static_cast<unsigned>(day) % 100u;
  snprintf(out, kDateTextSize, "%04u-%02u-%02u", y, m, d);
}

void TwoMonthsAgoText(char out[kDateTextSize], os::LocalDate t) {
  if (t.month <= 2)
    FormatDate(out, t.year - 1, t.month + 10, t.day);
  else
    FormatDate(out, t.year, t.month - 2, t.day);
}

void WeekAgoText(char out[kDateTextSize], os::LocalDate t) {
  if (t.day > 7)
    FormatDate(out, t.year, t.month, t.day - 7);
  else if (t.month == 1)
    FormatDate(out, t.year - 1, 12, t.day + 23);
  else
    FormatDate(out, t.year, t.month - 1, t.day + 23);
}

VersionCheckServices VersionCheckFromSystem() {
  VersionCheckServices s{};
  s.buildDate = kBuildDate;
  s.today = SystemToday;
  s.readStored = ReadStoredDate;
  s.writeStored = WriteStoredDate;
  s.sleepMs = SystemSleep;
  return s;
}

// Set by the build; the fall-back is for builds that do not pass it.
#ifndef KIVO_VERSION_CHECK_URL
#define KIVO_VERSION_CHECK_URL "https://kivo.example.org/scripts/kivover.asp?ver=1.5a"
#endif

const char* VersionPageAddress() { return KIVO_VERSION_CHECK_URL; }

VersionCheckResult RunVersionCheck(const VersionCheckServices& s) {
  const char* address = s.pageAddress ? s.pageAddress : VersionPageAddress();
  // No page to send anyone to (a distribution's package): nothing to offer.
  if (!s.today || !address[0]) return kVersionGoOn;
  const char* build = s.buildDate ? s.buildDate : kBuildDate;
  const os::LocalDate today = s.today(s.context);
  char twoMonthsAgo[kDateTextSize], weekAgo[kDateTextSize];
  TwoMonthsAgoText(twoMonthsAgo, today);
  WeekAgoText(weekAgo, today);
  if (strncmp(build, twoMonthsAgo, kDateTextSize) >= 0) return kVersionGoOn;

  char stored[15] = {};
  if (s.readStored) {
    s.readStored(s.context, build, stored, sizeof stored);
  } else {
    snprintf(stored, sizeof stored, "%s", build);
  }
  if (strcmp(stored, weekAgo) >= 0) return kVersionGoOn;

  StoreToday(s);
  if (!s.askYesNo || !s.askYesNo(s.askContext, kVersionCheckQuestion, kVersionCheckCaption)) return kVersionGoOn;

  if (s.openPage) s.openPage(s.askContext, address);
  if (s.sleepMs) s.sleepMs(s.context, 250);
  StoreToday(s);
  return kVersionQuit;
}

}  // namespace kivo
