// The command line: option flags in any letter case, the file name last;
// the thread count from the environment.
#include <gtest/gtest.h>

#include <string>

#include "frontend/Options.h"

namespace {

using zef::frontend::ParseOptions;
using zef::frontend::RunState;

TEST(OptionsTest, OptionsMatchInAnyCaseAndMayRepeat) {
  RunState run;
  const char* argv[] = {"ZefiConvert", "-SHOWIMAGES", "-showoriginalIMAGES", "-showImages", "a.zef"};
  EXPECT_TRUE(ParseOptions(run, 5, argv));
  EXPECT_TRUE(run.showImages);
  EXPECT_TRUE(run.showOriginalImages);
  EXPECT_FALSE(run.showConvertedImages);
}

TEST(OptionsTest, LastArgumentIsNeverAnOption) {
  RunState run;
  const char* argv[] = {"ZefiConvert", "-showImages"};
  EXPECT_TRUE(ParseOptions(run, 2, argv));
  EXPECT_FALSE(run.showImages);
}

TEST(OptionsTest, UnknownOptionStopsButKeepsEarlierFlags) {
  RunState run;
  const char* argv[] = {"ZefiConvert", "-showConvertedImages", "-verbose", "-showImages", "s.txt"};
  testing::internal::CaptureStdout();
  EXPECT_FALSE(ParseOptions(run, 5, argv));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(run.showConvertedImages);
  EXPECT_FALSE(run.showImages);
}

TEST(OptionsTest, NoFileNameAsksForOne) {
  RunState run;
  const char* argv[] = {"ZefiConvert"};
  testing::internal::CaptureStdout();
  EXPECT_FALSE(ParseOptions(run, 1, argv));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Please specify a script filename...\n");
}

// ZEF_THREADS: a plain whole number in range, or nothing at all.
TEST(OptionsTest, ThreadSettingTakesOnlyPlainNumbersInRange) {
  const struct {
    const char* value;
    int threads;
  } cases[] = {{nullptr, 0}, {"", 0},    {"1", 1},    {"2", 2},     {"016", 16}, {"256", 256},
               {"257", 0},   {"0", 0},   {"-2", 0},   {" 2", 0},    {"2 ", 0},   {"2x", 0},
               {"+3", 0},    {"99999999999999999999", 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(zef::frontend::ThreadSetting(c.value), c.threads) << (c.value ? c.value : "(unset)");
  }
}

}  // namespace
