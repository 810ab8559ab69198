// SPDX-License-Identifier: BSD-2-Clause
// A style of this file's own, added to the build's list from here alone, as
// a new style would be: the numbers, the names, the help text and the style
// contract take it up as they take the build's own.
#include <gtest/gtest.h>

#include <string>

#include "display/blit_style.h"
#include "kivo/display.h"
#include "player/command_line.h"

#if defined(_WIN32)
#include "display/win32/direct_draw_surface.h"
#elif defined(KIVO_HAVE_SDL)
#include "display/sdl/sdl_texture_style.h"
#endif

namespace kivo {
namespace {

constexpr int32_t kNumber = 11;

#if defined(_WIN32)
const win32::SurfaceKind kNewcomerKind = {0, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY};
const BlitStyle kNewcomer = win32::SurfaceStyle("Newcomer RGB system surface", "newcomer", nullptr, kNumber,
                                                &kNewcomerKind, win32::BlitCaps, nullptr);
#elif defined(KIVO_HAVE_SDL)
constexpr TextureKind kNewcomerKind = {SDL_RENDERER_SOFTWARE, 0, false};
const BlitStyle kNewcomer = TextureStyle("Newcomer RGB texture", "newcomer", kNumber, 0, &kNewcomerKind);
#endif

#if defined(_WIN32) || defined(KIVO_HAVE_SDL)
const bool added = AddBlitStyle(&kNewcomer) == 1;

TEST(NewcomerStyle, TheNumbersTheNamesTheHelpAndTheContractTakeItUp) {
  ASSERT_TRUE(added);
  EXPECT_EQ(AddBlitStyle(&kNewcomer), 0) << "its number is taken now";
  EXPECT_EQ(BlitStyleByNumber(DefaultBlitSystem(), kNumber), &kNewcomer);
  EXPECT_EQ(FindBlitStyle("newcomer"), kNumber);
  EXPECT_STREQ(GetBlitStyleNameByNumber(kNumber), kNewcomer.name);
  // The help's /B line, joined back into one line.
  std::string help = HelpText();
  for (size_t at; (at = help.find("\n        \t    ")) != std::string::npos;) help.replace(at, 14, " ");
  EXPECT_NE(help.find(std::to_string(kNumber) + "=" + kNewcomer.name + ".\n"), std::string::npos) << help;
  // The contract runs over it.
  bool contract = false;
  const ::testing::UnitTest& all = *::testing::UnitTest::GetInstance();
  for (int i = 0; i < all.total_test_suite_count(); ++i) {
    const ::testing::TestSuite& suite = *all.GetTestSuite(i);
    for (int j = 0; j < suite.total_test_count(); ++j)
      contract |= std::string(suite.name()) == "EveryStyle/StyleContract" &&
                  std::string(suite.GetTestInfo(j)->name()).ends_with("/Style" + std::to_string(kNumber));
  }
  EXPECT_TRUE(contract);
}
#endif

}  // namespace
}  // namespace kivo
