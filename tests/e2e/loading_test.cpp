// Runs that stop while loading: missing files, a mask of the wrong size,
// and the colour limits with and without masks; on one thread and on many.
#include <random>

#include "e2e/ToolRun.h"

namespace zeftest {
namespace {

const std::string kMaskedHeader =
    "startindex 0\noutputfilename out\nmask true\nalphavalues 4\nstartimages\n";
const std::string kPlainHeader = "startindex 0\noutputfilename out\nmask false\nstartimages\n";

class LoadingTest : public ToolTest {
 protected:
  std::string RunScript(const std::string& text) {
    WriteText("script.txt", text);
    const ToolResult run = Run({"script.txt"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.zef"));
    return run.output;
  }
};

TEST_F(LoadingTest, MissingImageStopsBeforeAnyMask) {
  SavePicture("a.png", FlatImage(4, 4, {1, 2, 3}));
  SavePicture("a_mask.png", FlatMask(4, 4, 255));
  EXPECT_EQ(RunScript(kMaskedHeader + "a.png\na_mask.png\ngone.png\ngone_mask.png\n"),
            kGreeting + "Loading image files...\nLoading a.png\nLoading gone.png\n" +
                "Could not load image gone.png...\n" + kPrompt + kExiting);
}

TEST_F(LoadingTest, MissingMask) {
  SavePicture("a.png", FlatImage(4, 4, {1, 2, 3}));
  EXPECT_EQ(RunScript(kMaskedHeader + "a.png\ngone.png\n"),
            kGreeting + "Loading image files...\nLoading a.png\nLoading mask files...\n" +
                "Loading gone.png\nCould not load mask image gone.png...\n" + kPrompt + kExiting);
}

TEST_F(LoadingTest, MaskOfAnotherSizeFailsBeforeItsConversion) {
  SavePicture("a.png", FlatImage(4, 4, {1, 2, 3}));
  SavePicture("b.png", FlatImage(5, 3, {1, 2, 3}));
  SavePicture("a_mask.png", FlatMask(4, 4, 255));
  SavePicture("b_mask.png", FlatMask(3, 5, 255));
  EXPECT_EQ(RunScript(kMaskedHeader + "a.png\na_mask.png\nb.png\nb_mask.png\n"),
            kGreeting + "Loading image files...\nLoading a.png\nLoading b.png\n" +
                "Loading mask files...\nLoading a_mask.png\n" + kMaskConversion +
                "Loading b_mask.png\n" +
                "source image and source mask must have the same dimensions...\n" + kPrompt +
                kExiting);
}

TEST_F(LoadingTest, SixtyFiveColoursAreTooManyWithMasks) {
  SavePicture("c64.png", ImageWithColours(64));
  SavePicture("c65.png", ImageWithColours(65));
  EXPECT_EQ(RunScript(kMaskedHeader + "c64.png\nm.png\nc65.png\nm.png\n"),
            kGreeting + "Loading image files...\nLoading c64.png\nLoading c65.png\n" +
                "Error in Image c65.png : Too many Colors (65). Only 64 different colors are "
                "allowed for images with alpha information \n" +
                kPrompt + kExiting);
}

TEST_F(LoadingTest, TwoHundredFiftySevenColoursAreTooManyWithoutMasks) {
  SavePicture("c256.png", ImageWithColours(256));
  SavePicture("c257.png", ImageWithColours(257));
  EXPECT_EQ(RunScript(kPlainHeader + "c256.png\nc257.png\n"),
            kGreeting + "Loading image files...\nLoading c256.png\nLoading c257.png\n" +
                "An error occured while checking image c257.png : Too many Colors (257). Only "
                "256 different colors are allowed for images without alpha information \n" +
                kPrompt + kExiting);
}

TEST_F(LoadingTest, FolderInPlaceOfAnImage) {
  std::filesystem::create_directory(dir_ / "folder.png");
  EXPECT_EQ(RunScript(kPlainHeader + "folder.png\n"),
            kGreeting + "Loading image files...\nLoading folder.png\n" +
                "Could not load image folder.png...\n" + kPrompt + kExiting);
}


// The files are loaded on several threads at once, a window ahead of the
// one being checked; what the console shows must not depend on it. A
// script of many sprites, one of whose files fails in a given way (or
// none), is run on one thread and on every core.
enum class Fault { kNone, kMissingImage, kNoImage, kTooManyColours, kMissingMask, kMaskOfOtherSize };

struct ThreadCase {
  const char* name;
  Fault fault;
  int at;  // the sprite whose image or mask fails
};
// Named in test lists by its name, not by its bytes.
void PrintTo(const ThreadCase& c, std::ostream* out) { *out << c.name; }

class ThreadedLoadingTest : public ToolTest, public ::testing::WithParamInterface<ThreadCase> {
 protected:
  // More sprites than two windows of files on this machine's threads.
  static constexpr int kSprites = 40;
  static std::string ImageName(int n) { return "sprite" + std::to_string(n) + ".png"; }
  static std::string MaskName(int n) { return "sprite" + std::to_string(n) + "_mask.png"; }

  // The sprites, the faulty file and the script; the lines the tool must print.
  std::string Prepare(const ThreadCase& c) {
    std::mt19937 random(uint32_t(c.at) * 31 + 5);
    std::string script = kMaskedHeader;
    for (int n = 0; n < kSprites; ++n) {
      SavePicture(ImageName(n), RandomImage(random, 8 + n % 5, 6 + n % 3, 2 + n % 60));
      SavePicture(MaskName(n), RandomMask(random, 8 + n % 5, 6 + n % 3));
      script += ImageName(n) + "\n" + MaskName(n) + "\n";
    }
    WriteText("script.txt", script);
    const std::string image = ImageName(c.at), mask = MaskName(c.at);
    std::string failure;
    switch (c.fault) {
      case Fault::kNone:
        break;
      case Fault::kMissingImage:
        std::filesystem::remove(dir_ / image);
        failure = "Could not load image " + image + "...\n";
        break;
      case Fault::kNoImage:
        WriteText(image, "these are notes, not pixels\n");
        failure = "Could not load image " + image + "...\n";
        break;
      case Fault::kTooManyColours:
        SavePicture(image, ImageWithColours(65));
        failure = "Error in Image " + image + " : Too many Colors (65). Only 64 different colors "
                  "are allowed for images with alpha information \n";
        break;
      case Fault::kMissingMask:
        std::filesystem::remove(dir_ / mask);
        failure = "Could not load mask image " + mask + "...\n";
        break;
      case Fault::kMaskOfOtherSize:
        SavePicture(mask, FlatMask(1, 1, 255));
        failure = "source image and source mask must have the same dimensions...\n";
        break;
    }
    const bool inImage = c.fault == Fault::kMissingImage || c.fault == Fault::kNoImage ||
                         c.fault == Fault::kTooManyColours;
    std::string expected = kGreeting + "Loading image files...\n";
    for (int n = 0; n < kSprites; ++n) {
      expected += "Loading " + ImageName(n) + "\n";
      if (inImage && n == c.at) return expected + failure + kPrompt + kExiting;
    }
    expected += "Loading mask files...\n";
    for (int n = 0; n < kSprites; ++n) {
      expected += "Loading " + MaskName(n) + "\n";
      if (!failure.empty() && n == c.at) return expected + failure + kPrompt + kExiting;
      expected += kMaskConversion;
    }
    return expected + "wrote Bitmap(s) to out.zef\n";
  }

  ToolResult RunOn(const std::string& threads) {
    RunSetting setting;
    setting.environment = {"ZEF_THREADS=" + threads};
    return Run({"script.txt"}, setting);
  }
};

TEST_P(ThreadedLoadingTest, SameLinesAndArchiveOnOneThreadAndOnAll) {
  const std::string expected = Prepare(GetParam());
  const ToolResult one = RunOn("1");
  ASSERT_EQ(one.exitCode, 0);
  const Bytes oneArchive = std::filesystem::exists(dir_ / "out.zef") ? ReadFile(dir_ / "out.zef") : Bytes{};
  std::filesystem::remove(dir_ / "out.zef");
  // More than any core count here: the tool takes one thread per core.
  const ToolResult all = RunOn("64");
  ASSERT_EQ(all.exitCode, 0);
  EXPECT_EQ(all.output, one.output);
  EXPECT_TRUE(one.output.starts_with(expected)) << one.output;
  if (GetParam().fault == Fault::kNone) {
    ASSERT_FALSE(oneArchive.empty());
    EXPECT_EQ(ReadFile(dir_ / "out.zef"), oneArchive);
  } else {
    EXPECT_TRUE(one.output.ends_with(kExiting));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.zef"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    FaultAnywhere, ThreadedLoadingTest,
    ::testing::Values(ThreadCase{"Sound", Fault::kNone, 0},
                      ThreadCase{"FirstImageMissing", Fault::kMissingImage, 0},
                      ThreadCase{"ImageMissingInSecondWindow", Fault::kMissingImage, 17},
                      ThreadCase{"NoImageInFirstWindow", Fault::kNoImage, 5},
                      ThreadCase{"LastImageHasTooManyColours", Fault::kTooManyColours, 39},
                      ThreadCase{"ImageHasTooManyColours", Fault::kTooManyColours, 22},
                      ThreadCase{"FirstMaskMissing", Fault::kMissingMask, 0},
                      ThreadCase{"MaskMissingLate", Fault::kMissingMask, 33},
                      ThreadCase{"MaskOfOtherSize", Fault::kMaskOfOtherSize, 16},
                      ThreadCase{"LastMaskOfOtherSize", Fault::kMaskOfOtherSize, 39}),
    [](const ::testing::TestParamInfo<ThreadCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zeftest
