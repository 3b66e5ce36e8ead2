// Large and many: thousands of small images with masks, one very large
// image, and an archive of a hundred thousand images. Each must go through
// the tool or the library whole and come back as written.
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <string>

#include "archive/ZefImgReader.h"
#include "e2e/ToolRun.h"
#include "writer/ZefImgWriter.h"

namespace zeftest {
namespace {

namespace fs = std::filesystem;

constexpr int kManyImages = 5000;
constexpr int kLargeSide = 8192;
constexpr uint32_t kTinyImages = 100000;

// Image n of the many: 3 x 2 pixels whose colours tell n apart.
cv::Mat ManyImage(int n) {
  return MakeImage(3, 2, [n](int x, int y) {
    return cv::Vec3b(uint8_t(n * 16), uint8_t((n >> 4) * 16), uint8_t((x + y * 3) * 40));
  });
}

cv::Mat ManyMask(int n) {
  return MakeImage(3, 2, [n](int x, int y) { return cv::Vec3b::all(uint8_t((n + x + y) * 37)); });
}

// The library's own loops: a sanitizer build instruments only ours, and
// these images are large.
cv::Mat HighNibbles(const cv::Mat& image) {
  cv::Mat result;
  cv::bitwise_and(image, cv::Scalar::all(0xF0), result);
  return result;
}

void ExpectSameImages(const std::vector<cv::Mat>& decoded, const std::vector<cv::Mat>& sources) {
  ASSERT_EQ(decoded.size(), sources.size());
  for (size_t n = 0; n < sources.size(); ++n) {
    ASSERT_EQ(decoded[n].size(), sources[n].size()) << "image " << n;
    ASSERT_EQ(cv::norm(decoded[n], HighNibbles(sources[n]), cv::NORM_INF), 0) << "image " << n;
  }
}

TEST(LargeInputs, FiveThousandImagesWithMasksConvertAndShowBack) {
  TempDir dir;
  std::string script = "startindex 1\noutputfilename many\nmask true\nalphavalues 4\nstartimages\n";
  std::vector<cv::Mat> sources;
  for (int n = 0; n < kManyImages; ++n) {
    const std::string image = "i" + std::to_string(n) + ".bmp", mask = "m" + std::to_string(n) + ".bmp";
    sources.push_back(ManyImage(n));
    ASSERT_TRUE(cv::imwrite((dir / image).string(), sources.back()));
    ASSERT_TRUE(cv::imwrite((dir / mask).string(), ManyMask(n)));
    script += image + "\n" + mask + "\n";
  }
  WriteText(dir / "script.txt", script);

  const ToolResult convert = RunTool(dir.path(), {"-showConvertedImages", "script.txt"});
  ASSERT_TRUE(convert.exited);
  EXPECT_EQ(convert.exitCode, 0);
  EXPECT_NE(convert.output.find("wrote Bitmap(s) to many.zef\n"), std::string::npos);
  EXPECT_NE(convert.output.find("read Bitmap(s) from many.zef\n"), std::string::npos) << convert.output;

  const ToolResult show = RunTool(dir.path(), {"-showImages", "many.zef"});
  ASSERT_TRUE(show.exited);
  EXPECT_EQ(show.exitCode, 0);
  EXPECT_NE(show.output.find("read Bitmap(s) from many.zef\n"), std::string::npos) << show.output;

  zef::ZefImgReader reader;
  const auto decoded = reader.Read((dir / "many.zef").string());
  ASSERT_TRUE(decoded) << reader.GetError();
  EXPECT_EQ(reader.GetStartIndex(), 1u);
  ExpectSameImages(*decoded, sources);
}

TEST(LargeInputs, ImageOf8192By8192WithFewColoursConverts) {
  TempDir dir;
  // Four colours in bands of 64 lines, with a stripe every 100 columns, so
  // that the lines hold runs of both kinds: long ones and short ones.
  constexpr int kBand = 64, kStripeStep = 100;
  const cv::Scalar colours[4] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {17, 34, 51}};
  cv::Mat image(kLargeSide, kLargeSide, CV_8UC3);
  for (int band = 0; band < kLargeSide / kBand; ++band) {
    cv::Mat lines = image.rowRange(band * kBand, (band + 1) * kBand);
    lines.setTo(colours[band % 4]);
    for (int x = 0; x < kLargeSide; x += kStripeStep) lines.col(x).setTo(colours[(band + 1) % 4]);
  }
  ASSERT_TRUE(cv::imwrite((dir / "large.png").string(), image, {cv::IMWRITE_PNG_COMPRESSION, 1}));
  WriteText(dir / "script.txt",
            "startindex 0\noutputfilename large\nmask false\nstartimages\nlarge.png\n");

  const ToolResult convert = RunTool(dir.path(), {"script.txt"});
  ASSERT_TRUE(convert.exited);
  EXPECT_EQ(convert.exitCode, 0);
  ASSERT_NE(convert.output.find("wrote Bitmap(s) to large.zef\n"), std::string::npos) << convert.output;

  zef::ZefImgReader reader;
  const auto decoded = reader.Read((dir / "large.zef").string());
  ASSERT_TRUE(decoded) << reader.GetError();
  ExpectSameImages(*decoded, {image});
}

TEST(LargeInputs, VersionTwoArchiveOfHundredThousandTinyImagesReadsBack) {
  TempDir dir;
  std::vector<cv::Mat> sources;
  sources.reserve(kTinyImages);
  for (uint32_t n = 0; n < kTinyImages; ++n) {
    sources.push_back(FlatImage(1, 1, cv::Vec3b(uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16))));
  }
  zef::ZefImgWriter writer;
  writer.SetVersion(zef::kVersion2);
  const std::string archive = (dir / "tiny.zef").string();
  ASSERT_TRUE(writer.Write(archive, sources, {})) << writer.GetError();

  zef::ZefImgReader reader;
  const auto decoded = reader.Read(archive);
  ASSERT_TRUE(decoded) << reader.GetError();
  ExpectSameImages(*decoded, sources);

  // The tool reads it too; without a display it shows no windows.
  const ToolResult show = RunTool(dir.path(), {"-showImages", "tiny.zef"});
  ASSERT_TRUE(show.exited);
  EXPECT_EQ(show.exitCode, 0);
  EXPECT_NE(show.output.find("read Bitmap(s) from tiny.zef\n"), std::string::npos) << show.output;
}

}  // namespace
}  // namespace zeftest
