// Every message of the conversion script, as the whole console output of a
// run that stops at the script.
#include "e2e/ToolRun.h"

namespace zeftest {
namespace {

class ScriptMessagesTest : public ToolTest {
 protected:
  // The output of a run on the given script, which stops at the script.
  std::string RunScript(const std::string& text) {
    WriteText("script.txt", text);
    const ToolResult run = Run({"script.txt"});
    EXPECT_EQ(run.exitCode, 0);
    return run.output;
  }
  static std::string Failed(const std::string& messages) {
    return kGreeting + messages + kPrompt + kExiting;
  }
};

TEST_F(ScriptMessagesTest, MissingScript) {
  const ToolResult run = Run({"nothing.txt"});
  EXPECT_EQ(run.output, Failed("could not open file nothing.txt\n"));
}

TEST_F(ScriptMessagesTest, EmptyScriptMissesEverything) {
  EXPECT_EQ(RunScript(""),
            Failed("Missing StartIndex...\nMissing Outputfile...\nMissing AlphaValues...\n"
                   "Missing Mask flag...\nsomething wrong in script file...\n"));
}

TEST_F(ScriptMessagesTest, StartIndexOutOfRangeIncludingBeyondThirtyTwoBits) {
  for (const char* wrong : {"10000001", "-1", "99999999999"}) {
    EXPECT_EQ(RunScript(std::string("startindex ") + wrong + "\noutputfilename out\n"),
              Failed("Wrong StartIndex (0-10000000)...\n"))
        << wrong;
  }
}

TEST_F(ScriptMessagesTest, OneCharacterOutputName) {
  EXPECT_EQ(RunScript("startindex 1\noutputfilename x\n"), Failed("Wrong OutputFilename...\n"));
}

TEST_F(ScriptMessagesTest, AlphaValuesOtherThanTwoOrFour) {
  EXPECT_EQ(RunScript("mask off\nalphavalues 3\n"), Failed("Please set alpha values to 2 or 4...\n"));
}

TEST_F(ScriptMessagesTest, MaskFlagMissingWithMasksOnByDefault) {
  EXPECT_EQ(RunScript("STARTINDEX 1\nOutputFilename out\nAlphaValues 2\nStartImages\na.png\n"),
            Failed("Missing Mask flag...\nMissing maskfile filename...\n"
                   "something wrong in script file...\n"));
}

TEST_F(ScriptMessagesTest, ThreeNamesWithMasksOn) {
  EXPECT_EQ(RunScript("startindex 1\noutputfilename out\nmask on\nalphavalues 4\nstartimages\n"
                      "a.png\na_mask.png\nb.png\n"),
            Failed("Missing maskfile filename...\nsomething wrong in script file...\n"));
}

TEST_F(ScriptMessagesTest, NoStartImagesLine) {
  EXPECT_EQ(RunScript("startindex 1\noutputfilename out\nmask off\na.png\n"),
            Failed("something wrong in script file...\n"));
}

TEST_F(ScriptMessagesTest, StartImagesHiddenInTheOutputNameBeginsTheList) {
  // The list then begins, so the next line is an image name, not a key.
  EXPECT_EQ(RunScript("outputfilename startimages\nmask off\n"),
            Failed("Missing StartIndex...\nMissing AlphaValues...\nMissing Mask flag...\n"
                   "Missing maskfile filename...\nsomething wrong in script file...\n"));
}

}  // namespace
}  // namespace zeftest
