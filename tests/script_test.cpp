// The conversion script parser: keys, values, the file-name list and every
// message, checked on the run state it fills.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "TestImages.h"
#include "frontend/RunState.h"
#include "frontend/Script.h"
#include "writer/ConversionScript.h"

namespace {

using zef::frontend::ParseScript;
using zef::ReadDecimal;
using zef::frontend::RunState;

struct Parsed {
  bool ok;
  std::string output;  // what the parser printed
};

class ScriptTest : public ::testing::Test {
 protected:
  // Parses the text as the script of a fresh run.
  Parsed Parse(const std::string& text) {
    const std::filesystem::path file = dir_ / "script.txt";
    std::ofstream(file, std::ios::binary) << text;
    run_ = std::make_unique<RunState>();
    testing::internal::CaptureStdout();
    const bool ok = ParseScript(*run_, file.string());
    return {ok, testing::internal::GetCapturedStdout()};
  }
  const RunState& run() const { return *run_; }

  zeftest::TempDir dir_;
  std::unique_ptr<RunState> run_ = std::make_unique<RunState>();
};

const std::string kHeader = "startindex 3\noutputfilename out\nmask false\nstartimages\n";

TEST_F(ScriptTest, EmptyScriptReportsEveryMissingKeyInOrder) {
  const Parsed parsed = Parse("");
  EXPECT_FALSE(parsed.ok);
  EXPECT_EQ(parsed.output,
            "Missing StartIndex...\nMissing Outputfile...\nMissing AlphaValues...\n"
            "Missing Mask flag...\nsomething wrong in script file...\n");
}

TEST_F(ScriptTest, CompleteScriptWithMasksAlternatesImagesAndMasks) {
  const Parsed parsed = Parse(
      "startindex 100\noutputfilename buttons\nmask true\nalphavalues 4\nstartimages\n"
      "a.png\na_mask.png\nb.png\nb_mask.png\n");
  EXPECT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.output, "");
  EXPECT_EQ(run().startIndex, 100);
  EXPECT_EQ(run().outputFileName, "buttons.zef");
  EXPECT_TRUE(run().useMask);
  EXPECT_EQ(run().alphaValues, 4);
  EXPECT_EQ(run().imageFileNames, (std::vector<std::string>{"a.png", "b.png"}));
  EXPECT_EQ(run().maskFileNames, (std::vector<std::string>{"a_mask.png", "b_mask.png"}));
}

TEST_F(ScriptTest, KeysIgnoreCaseButMustStartInFirstColumn) {
  EXPECT_TRUE(Parse("STARTINDEX 5\nOutputFileName out\nMASK off\nStartImages\nimg.png\n").ok);
  EXPECT_EQ(run().startIndex, 5);

  const Parsed indented = Parse(" startindex 5\noutputfilename out\nmask off\nstartimages\nimg.png\n");
  EXPECT_FALSE(indented.ok);
  EXPECT_EQ(indented.output, "Missing StartIndex...\nsomething wrong in script file...\n");
}

TEST_F(ScriptTest, ValueNeedsNoSeparatorAndAnEqualsSignReadsAsZero) {
  EXPECT_TRUE(Parse("startindex=5\noutputfilename out\nmask no\nstartimages\nimg.png\n").ok);
  EXPECT_EQ(run().startIndex, 0);
  EXPECT_TRUE(Parse("startindex12\noutputfilename out\nmask no\nstartimages\nimg.png\n").ok);
  EXPECT_EQ(run().startIndex, 12);
}

TEST_F(ScriptTest, StartIndexBoundsAndStopAtOnce) {
  EXPECT_TRUE(Parse("startindex 10000000\noutputfilename out\nmask 0\nstartimages\nimg.png\n").ok);
  EXPECT_EQ(run().startIndex, 10000000);
  for (const char* wrong : {"10000001", "-1", "99999999999", "-99999999999"}) {
    // Nothing after the faulty line is read, so no "Missing" message follows.
    const Parsed parsed = Parse(std::string("startindex ") + wrong + "\n");
    EXPECT_FALSE(parsed.ok) << wrong;
    EXPECT_EQ(parsed.output, "Wrong StartIndex (0-10000000)...\n") << wrong;
  }
}

TEST_F(ScriptTest, OutputNameGetsExtensionUnlessItEndsInLowerCaseZef) {
  const std::pair<const char*, const char*> cases[] = {
      {"out", "out.zef"}, {"out.zef", "out.zef"}, {"out.ZEF", "out.ZEF.zef"},
      {".zef", ".zef.zef"}, {"my archive  ", "my archive.zef"}};
  for (const auto& [given, expected] : cases) {
    EXPECT_TRUE(Parse(std::string("startindex 1\noutputfilename ") + given +
                      "\nmask off\nstartimages\nimg.png\n")
                    .ok);
    EXPECT_EQ(run().outputFileName, expected) << given;
  }
}

TEST_F(ScriptTest, OneCharacterOutputNameIsRefused) {
  const Parsed parsed = Parse("startindex 1\noutputfilename o\nmask off\n");
  EXPECT_FALSE(parsed.ok);
  EXPECT_EQ(parsed.output, "Wrong OutputFilename...\n");
}

TEST_F(ScriptTest, MaskWordsInAnyCase) {
  for (const char* on : {"TRUE", "On", "1", "yes"}) {
    Parse(std::string("mask ") + on + "\n");
    EXPECT_TRUE(run().useMask) << on;
  }
  for (const char* off : {"false", "0", "enabled", ""}) {
    Parse(std::string("mask ") + off + "\n");
    EXPECT_FALSE(run().useMask) << off;
  }
}

TEST_F(ScriptTest, AlphaValuesMustBeTwoOrFourEvenWithoutMasks) {
  const Parsed three = Parse("startindex 1\nmask off\nalphavalues 3\n");
  EXPECT_FALSE(three.ok);
  EXPECT_EQ(three.output, "Please set alpha values to 2 or 4...\n");
  EXPECT_TRUE(Parse("startindex 1\noutputfilename out\nmask on\nalphavalues 4x\nstartimages\n"
                    "a.png\nm.png\n")
                  .ok);
  EXPECT_EQ(run().alphaValues, 4);
}

TEST_F(ScriptTest, ImageWithoutItsMaskEmptiesTheLists) {
  const Parsed parsed = Parse(
      "startindex 9\noutputfilename out\nmask true\nalphavalues 2\nstartimages\n"
      "a.png\na_mask.png\nb.png\n");
  EXPECT_FALSE(parsed.ok);
  EXPECT_EQ(parsed.output, "Missing maskfile filename...\nsomething wrong in script file...\n");
  EXPECT_EQ(run().startIndex, 0);
  EXPECT_TRUE(run().imageFileNames.empty());
  EXPECT_TRUE(run().maskFileNames.empty());
  EXPECT_EQ(run().outputFileName, "out.zef");  // kept as the script set it
}

TEST_F(ScriptTest, NoFileNameAfterStartImagesIsAFault) {
  const Parsed parsed = Parse(kHeader);
  EXPECT_FALSE(parsed.ok);
  EXPECT_EQ(parsed.output, "something wrong in script file...\n");
}

TEST_F(ScriptTest, ListTakesKeyLinesAsNamesAndSkipsShortAndCommentLines) {
  EXPECT_TRUE(Parse(kHeader + "startindex 7\n#comment.png\nab\n\n  x.png \n").ok);
  EXPECT_EQ(run().startIndex, 3);
  EXPECT_EQ(run().imageFileNames, (std::vector<std::string>{"startindex 7", "  x.png "}));
}

TEST_F(ScriptTest, ValueBeginningWithALaterKeyActsOnThatKeyToo) {
  EXPECT_TRUE(Parse("startindex 1\nmask on\noutputfilename maskfile\nstartimages\na.png\n").ok);
  EXPECT_EQ(run().outputFileName, "maskfile.zef");
  EXPECT_FALSE(run().useMask);

  EXPECT_TRUE(Parse("startindex 1\nmask off\noutputfilename startimages\na.png\n").ok);
  EXPECT_EQ(run().outputFileName, "startimages.zef");
  EXPECT_EQ(run().imageFileNames, (std::vector<std::string>{"a.png"}));
}

TEST_F(ScriptTest, CarriageReturnBeforeLineFeedBelongsToTheLineEnding) {
  EXPECT_TRUE(Parse("startindex 4\r\noutputfilename out\r\nmask off\r\nstartimages\r\n"
                    "a.png\r\nb.png\r")
                  .ok);
  EXPECT_EQ(run().outputFileName, "out.zef");
  // The last line has no line feed, so its carriage return is part of it.
  EXPECT_EQ(run().imageFileNames, (std::vector<std::string>{"a.png", "b.png\r"}));
}

TEST_F(ScriptTest, VeryLongLineIsReadWhole) {
  const std::string longName = std::string(5000, 'n') + ".png";
  EXPECT_TRUE(Parse(kHeader + longName + "\nafter.png\n").ok);
  EXPECT_EQ(run().imageFileNames, (std::vector<std::string>{longName, "after.png"}));
}

TEST_F(ScriptTest, MissingScriptOrFolderCannotBeOpened) {
  const std::string missing = (dir_ / "nope.txt").string();
  testing::internal::CaptureStdout();
  EXPECT_FALSE(ParseScript(*run_, missing));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "could not open file " + missing + "\n");

  testing::internal::CaptureStdout();
  EXPECT_FALSE(ParseScript(*run_, dir_.path().string()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "could not open file " + dir_.path().string() + "\n");
}

TEST(ReadDecimalTest, ReadsLikeAtoiAndSaturates) {
  EXPECT_EQ(ReadDecimal("  \t+42abc"), 42);
  EXPECT_EQ(ReadDecimal("-17"), -17);
  EXPECT_EQ(ReadDecimal("abc"), 0);
  EXPECT_EQ(ReadDecimal("2147483647"), 2147483647);
  EXPECT_EQ(ReadDecimal("2147483648"), 2147483647);
  EXPECT_EQ(ReadDecimal("99999999999999999999999"), 2147483647);
  EXPECT_EQ(ReadDecimal("-2147483649"), -2147483647 - 1);
}

}  // namespace
