// Runs that stop while loading: missing files, a mask of the wrong size,
// and the colour limits with and without masks.
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

}  // namespace
}  // namespace zeftest
