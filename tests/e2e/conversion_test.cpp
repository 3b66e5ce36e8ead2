// Successful conversions end to end: the console output with its size
// report, and the archive that the reader gets back.
#include "archive/ZefImgReader.h"
#include "e2e/ToolRun.h"

namespace zeftest {
namespace {

class ConversionTest : public ToolTest {
 protected:
  void SetUp() override {
    SavePicture("wide.png", MakeImage(101, 80, [](int x, int y) {
                  return cv::Vec3b(uint8_t(x / 20 * 40), uint8_t(y / 20 * 50), 200);
                }));
    SavePicture("dot.png", FlatImage(3, 5, {0, 255, 0}));
    SavePicture("wide_mask.png", MakeImage(101, 80, [](int x, int) {
                  const uint8_t grey = uint8_t(x * 2);
                  return cv::Vec3b(grey, grey, grey);
                }));
    SavePicture("dot_mask.png", FlatMask(3, 5, 255));
  }

  // Reads the archive back; fails the test when it cannot.
  std::vector<cv::Mat> ReadBack(const std::string& name, uint32_t* startIndex = nullptr) {
    zef::ZefImgReader reader;
    auto images = reader.Read((dir_ / name).string());
    EXPECT_TRUE(images.has_value()) << reader.GetError();
    if (startIndex) *startIndex = reader.GetStartIndex();
    return images ? *images : std::vector<cv::Mat>{};
  }

  std::string Report(const std::vector<std::string>& sources, const std::string& archive) {
    uint64_t sourceBytes = 0;
    for (const std::string& name : sources) sourceBytes += SizeOf(name);
    return ExpectedSizeReport(sourceBytes, SizeOf(archive));
  }
};

TEST_F(ConversionTest, WithMasks) {
  WriteText("script.txt",
            "# two sprites\nstartindex 100\noutputfilename sprites\nmask yes\nalphavalues 4\n"
            "startimages\nwide.png\nwide_mask.png\ndot.png\ndot_mask.png\n");
  const ToolResult run = Run({"script.txt"});
  ASSERT_TRUE(std::filesystem::exists(dir_ / "sprites.zef"));
  EXPECT_EQ(run.output,
            kGreeting + "Loading image files...\nLoading wide.png\nLoading dot.png\n" +
                "Loading mask files...\nLoading wide_mask.png\n" + kMaskConversion +
                "Loading dot_mask.png\n" + kMaskConversion + "wrote Bitmap(s) to sprites.zef\n" +
                Report({"wide.png", "dot.png", "wide_mask.png", "dot_mask.png"}, "sprites.zef") +
                kPrompt);
  EXPECT_EQ(run.exitCode, 0);

  uint32_t startIndex = 0;
  const std::vector<cv::Mat> images = ReadBack("sprites.zef", &startIndex);
  EXPECT_EQ(startIndex, 100u);
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0].size(), cv::Size(101, 80));
  const cv::Mat dot = cv::imread((dir_ / "dot.png").string(), cv::IMREAD_COLOR);
  EXPECT_EQ(cv::norm(images[1], Quantised(dot), cv::NORM_INF), 0);
}

TEST_F(ConversionTest, WithoutMasks) {
  WriteText("script.txt", "startindex 0\noutputfilename plain.zef\nmask off\nstartimages\n"
                          "wide.png\ndot.png\n");
  const ToolResult run = Run({"script.txt"});
  EXPECT_EQ(run.output, kGreeting + "Loading image files...\nLoading wide.png\nLoading dot.png\n" +
                            "wrote Bitmap(s) to plain.zef\n" +
                            Report({"wide.png", "dot.png"}, "plain.zef") + kPrompt);
  const std::vector<cv::Mat> images = ReadBack("plain.zef");
  ASSERT_EQ(images.size(), 2u);
  const cv::Mat wide = cv::imread((dir_ / "wide.png").string(), cv::IMREAD_COLOR);
  EXPECT_EQ(cv::norm(images[0], Quantised(wide), cv::NORM_INF), 0);
}

TEST_F(ConversionTest, UpperCaseExtensionGetsTheRealOneAdded) {
  WriteText("script.txt", "startindex 0\noutputfilename out.ZEF\nmask off\nstartimages\ndot.png\n");
  const ToolResult run = Run({"script.txt"});
  EXPECT_NE(run.output.find("\nwrote Bitmap(s) to out.ZEF.zef\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "out.ZEF.zef"));
}

TEST_F(ConversionTest, StartIndexReachesTheArchive) {
  uint32_t startIndex = 99;
  WriteText("equals.txt", "startindex=5\noutputfilename equals\nmask off\nstartimages\ndot.png\n");
  Run({"equals.txt"});
  ReadBack("equals.zef", &startIndex);
  EXPECT_EQ(startIndex, 0u);

  WriteText("capitals.txt", "StartIndex 5\nOUTPUTFILENAME caps\nMask Off\nSTARTIMAGES\ndot.png\n");
  Run({"capitals.txt"});
  ReadBack("caps.zef", &startIndex);
  EXPECT_EQ(startIndex, 5u);
}

TEST_F(ConversionTest, OutputNamedMaskfileTurnsMasksOff) {
  WriteText("script.txt", "startindex 1\nmask on\nalphavalues 2\noutputfilename maskfile\n"
                          "startimages\nwide.png\ndot.png\n");
  const ToolResult run = Run({"script.txt"});
  EXPECT_EQ(run.output, kGreeting + "Loading image files...\nLoading wide.png\nLoading dot.png\n" +
                            "wrote Bitmap(s) to maskfile.zef\n" +
                            Report({"wide.png", "dot.png"}, "maskfile.zef") + kPrompt);
}

TEST_F(ConversionTest, OutputNamedStartimagesBeginsTheList) {
  WriteText("script.txt", "startindex 1\nmask off\noutputfilename startimages\ndot.png\n");
  const ToolResult run = Run({"script.txt"});
  EXPECT_EQ(run.output, kGreeting + "Loading image files...\nLoading dot.png\n" +
                            "wrote Bitmap(s) to startimages.zef\n" +
                            Report({"dot.png"}, "startimages.zef") + kPrompt);
}

TEST_F(ConversionTest, WriteFailureIsReportedWithTheWritersMessage) {
  WriteText("script.txt", "startindex 1\noutputfilename no/such/folder/out\nmask off\nstartimages\n"
                          "dot.png\n");
  const ToolResult run = Run({"script.txt"});
  EXPECT_EQ(run.output, kGreeting + "Loading image files...\nLoading dot.png\n" +
                            "error while writing: ZefImgWriter: Write: could not open destination "
                            "file\n" + kPrompt + kExiting);
}

TEST_F(ConversionTest, WithoutWindowSystemBothShowOptionsSayItOnce) {
  WriteText("script.txt", "startindex 0\noutputfilename out\nmask on\nalphavalues 2\nstartimages\n"
                          "dot.png\ndot_mask.png\n");
  const ToolResult run = Run({"-showOriginalImages", "-SHOWCONVERTEDIMAGES", "script.txt"});
  EXPECT_EQ(run.output, kGreeting + "Loading image files...\nLoading dot.png\n" +
                            "Loading mask files...\nLoading dot_mask.png\n" + kMaskConversion +
                            kNoWindows + "wrote Bitmap(s) to out.zef\n" +
                            Report({"dot.png", "dot_mask.png"}, "out.zef") +
                            "read Bitmap(s) from out.zef\n" + kPrompt);
}

}  // namespace
}  // namespace zeftest
