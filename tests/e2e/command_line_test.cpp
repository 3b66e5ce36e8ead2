// The command line as the user meets it: usage, options in any case, and
// which mode the last argument lands in.
#include "e2e/ToolRun.h"

namespace zeftest {
namespace {

using CommandLineTest = ToolTest;

TEST_F(CommandLineTest, NoArgumentAsksForAScriptAndShowsTheUsage) {
  const ToolResult run = Run({});
  EXPECT_EQ(run.output, kGreeting + "Please specify a script filename...\n" + kUsage);
  EXPECT_EQ(run.exitCode, 0);
}

TEST_F(CommandLineTest, UnknownOptionShowsTheUsageWithoutExiting) {
  const ToolResult run = Run({"-showEverything", "script.txt"});
  EXPECT_EQ(run.output, kGreeting + kUsage);
  EXPECT_EQ(run.exitCode, 0);
}

TEST_F(CommandLineTest, OptionAloneIsTakenAsTheScriptName) {
  const ToolResult run = Run({"-showImages"});
  EXPECT_EQ(run.output, kGreeting + "could not open file -showImages\n" + kPrompt + kExiting);
  EXPECT_EQ(run.exitCode, 0);
}

TEST_F(CommandLineTest, DisplayOptionInCapitalsSelectsDisplayMode) {
  const ToolResult run = Run({"-SHOWIMAGES", "missing.zef"});
  EXPECT_EQ(run.output, kGreeting + "error while reading: could not open file missing.zef\n" +
                            kPrompt + kExiting);
  EXPECT_EQ(run.exitCode, 0);
}

TEST_F(CommandLineTest, DisplayModeIgnoresTheConversionOptions) {
  WriteText("script.txt", "startindex 1\noutputfilename out\nmask off\nstartimages\nimg.png\n");
  const ToolResult run = Run({"-showOriginalImages", "-ShowImages", "script.txt"});
  EXPECT_EQ(run.output, kGreeting + "error while reading: wrong header\n" + kPrompt + kExiting);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.zef"));
}

}  // namespace
}  // namespace zeftest
