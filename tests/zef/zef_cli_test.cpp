// The zef program end to end: packing folders and files with alpha and
// masks, the console tool's bytes in compatible mode, the same archive for
// any number of jobs, refusals that leave no file, exit codes, and info
// and extract against ZefImgReader.
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cmath>
#include <map>
#include <regex>
#include <set>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "AddressLimits.h"
#include "archive/ArchiveId.h"
#include "archive/ZefDecode.h"
#include "archive/ZefImgReader.h"
#include "writer/ZefEncode.h"
#include "writer/ZefEncodeMat.h"
#include "writer/ZefImgWriter.h"
#include "ZefRun.h"

namespace zeftest {
namespace {

using nlohmann::json;

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// At most 32 colours, with channel values on the 4-bit levels, so that
// every mapping keeps them.
cv::Mat LevelImage(int width, int height, int seed) {
  return MakeImage(width, height, [seed](int x, int y) {
    return cv::Vec3b(uint8_t(((x + seed) % 8) * 32), uint8_t(((y + seed) % 4) * 48),
                     uint8_t((seed % 4) * 64));
  });
}

cv::Mat WithAlpha(const cv::Mat& bgr, const cv::Mat& alpha) {
  cv::Mat bgra;
  std::vector<cv::Mat> split;
  cv::split(bgr, split);
  split.push_back(alpha);
  cv::merge(split, bgra);
  return bgra;
}

cv::Mat AlphaRamp(int width, int height) {
  cv::Mat alpha(height, width, CV_8UC1);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) alpha.at<uint8_t>(y, x) = uint8_t(x * 255 / std::max(1, width - 1));
  }
  return alpha;
}

// What extract must give as alpha for a mask byte with two alpha bits: the
// nearest of 0, 85, 170 and 255 (the console tool's cut keeps maskByte >> 6).
uint8_t TwoBitAlpha(uint8_t maskByte) { return uint8_t((maskByte * 3 + 127) / 255 * 85); }

cv::Mat Plane(const cv::Mat& picture, int channel) {
  cv::Mat plane;
  cv::extractChannel(picture, plane, channel);
  return plane;
}

cv::Mat Colour(const cv::Mat& picture) {
  if (picture.channels() == 3) return picture;
  std::vector<cv::Mat> planes;
  cv::split(picture, planes);
  planes.resize(3);
  cv::Mat bgr;
  cv::merge(planes, bgr);
  return bgr;
}

int DistinctColours(const cv::Mat& bgr) {
  std::set<uint32_t> colours;
  for (int y = 0; y < bgr.rows; ++y) {
    for (int x = 0; x < bgr.cols; ++x) {
      const cv::Vec3b p = bgr.at<cv::Vec3b>(y, x);
      colours.insert(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
    }
  }
  return int(colours.size());
}

// Pixels equal wherever the mask lets them be seen.
int VisibleDifferences(const cv::Mat& a, const cv::Mat& b, const cv::Mat& alpha) {
  int differences = 0;
  for (int y = 0; y < a.rows; ++y) {
    for (int x = 0; x < a.cols; ++x) {
      if (!alpha.empty() && alpha.at<uint8_t>(y, x) == 0) continue;
      differences += a.at<cv::Vec3b>(y, x) != b.at<cv::Vec3b>(y, x) ? 1 : 0;
    }
  }
  return differences;
}

// An image of `colours` distinct colours off the 4-bit levels' grid, which
// no palette with alpha holds.
cv::Mat ManyColours(int width, int height, int colours, int seed) {
  return MakeImage(width, height, [colours, seed, width](int x, int y) {
    const int c = (y * width + x + seed) % colours;
    return cv::Vec3b(uint8_t((c % 8) * 32 + 3), uint8_t((c / 8 % 8) * 32 + 5), uint8_t((c / 64) * 60 + 7));
  });
}

class ZefCliTest : public ZefTest {
 protected:
  std::vector<cv::Mat> ReadBack(const std::string& name, uint32_t* startIndex = nullptr) {
    zef::ZefImgReader reader;
    auto images = reader.Read((dir_ / name).string());
    EXPECT_TRUE(images.has_value()) << reader.GetError();
    if (startIndex) *startIndex = reader.GetStartIndex();
    return images.value_or(std::vector<cv::Mat>{});
  }
  cv::Mat Load(const std::string& name) { return cv::imread((dir_ / name).string(), cv::IMREAD_UNCHANGED); }
};

// --- packing files and folders ------------------------------------------

TEST_F(ZefCliTest, FolderOfPicturesInEveryLayoutPacksInBytewiseOrderAndExtractsAsTheReaderReads) {
  const cv::Mat colour = LevelImage(20, 9, 1), grey = FlatMask(7, 5, 0x70);
  const cv::Mat ramp = AlphaRamp(20, 9);
  Save("icons/b2.png", WithAlpha(colour, ramp));    // colour with alpha
  Save("icons/B.png", LevelImage(11, 4, 2));        // colour
  Save("icons/a.png", grey);                        // grey
  cv::Mat deep;
  WithAlpha(LevelImage(6, 6, 3), FlatMask(6, 6, 255)).convertTo(deep, CV_16U, 257);
  Save("icons/b10.png", deep);                      // 16-bit colour with opaque alpha
  WriteText("icons/notes.txt", "not a picture");
  Save("icons/sub/c.png", grey);                    // sub-folders are not read

  const ZefResult pack = Zef({"pack", "icons", "-o", "out.zef", "--start-index", "7", "--report", "json"});
  ASSERT_EQ(pack.exitCode, 0) << pack.err;
  EXPECT_EQ(pack.err, "");
  const json report = json::parse(pack.out);
  const std::vector<std::string> order = {"icons/B.png", "icons/a.png", "icons/b10.png", "icons/b2.png"};
  ASSERT_EQ(report["images"].size(), order.size());
  EXPECT_EQ(report["alpha_values"], 4);
  EXPECT_EQ(report["start_index"], 7);
  uint64_t imageBytes = 0;
  for (size_t n = 0; n < order.size(); ++n) {
    const json& image = report["images"][n];
    EXPECT_EQ(image["file"], order[n]);
    EXPECT_EQ(image["number"], 7 + int(n));
    EXPECT_EQ(image["reduced"], false);
    EXPECT_TRUE(image["psnr"].is_null()) << "levels kept exactly: " << image["psnr"];
    EXPECT_EQ(image["colors_before"], image["colors_after"]);
    EXPECT_GT(image["bytes"].get<uint64_t>(), 0u);
    imageBytes += image["bytes"].get<uint64_t>();
  }
  EXPECT_EQ(report["images"][3]["width"], 20);
  EXPECT_EQ(report["images"][3]["height"], 9);
  EXPECT_EQ(report["totals"]["images"], 4);
  EXPECT_EQ(report["totals"]["archive_bytes"], FileBytes("out.zef").size());
  EXPECT_LT(imageBytes, FileBytes("out.zef").size());

  uint32_t startIndex = 0;
  const std::vector<cv::Mat> read = ReadBack("out.zef", &startIndex);
  ASSERT_EQ(read.size(), 4u);
  EXPECT_EQ(startIndex, 7u);

  const ZefResult extract = Zef({"extract", "-o", "pictures", "out.zef"});
  ASSERT_EQ(extract.exitCode, 0) << extract.err;
  EXPECT_EQ(extract.out, "");
  EXPECT_EQ(Listing("pictures"), (std::vector<std::string>{"10.png", "7.png", "8.png", "9.png"}));
  cv::Mat greyColour;
  cv::merge(std::vector<cv::Mat>{grey, grey, grey}, greyColour);
  const cv::Mat sources[] = {LevelImage(11, 4, 2), greyColour, LevelImage(6, 6, 3), colour};
  for (int n = 0; n < 4; ++n) {
    const cv::Mat picture = Load("pictures/" + std::to_string(7 + n) + ".png");
    ASSERT_EQ(picture.type(), CV_8UC4) << n;
    EXPECT_EQ(cv::norm(Colour(picture), read[n], cv::NORM_INF), 0) << n;
    const cv::Mat& source = sources[n];
    const cv::Mat expectedAlpha = n == 3 ? ramp.clone() : FlatMask(source.cols, source.rows, 255);
    expectedAlpha.forEach<uint8_t>([](uint8_t& a, const int*) { a = TwoBitAlpha(a); });
    EXPECT_EQ(cv::norm(Plane(picture, 3), expectedAlpha, cv::NORM_INF), 0) << n;
    EXPECT_EQ(VisibleDifferences(read[n], source, expectedAlpha), 0) << n;
  }

  // Without the report, one line on standard error and nothing on standard output.
  const ZefResult quiet = Zef({"pack", "icons", "-o", "quiet.zef"});
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err.rfind("packed 4 images (0 reduced) into quiet.zef: ", 0), 0u) << quiet.err;
  EXPECT_EQ(std::count(quiet.err.begin(), quiet.err.end(), '\n'), 1);
}

struct MaskCase {
  std::string name;
  std::vector<std::string> extraArguments;
  std::string maskFile;
};
// Named in test lists by its name, not by its bytes.
void PrintTo(const MaskCase& c, std::ostream* out) { *out << c.name; }

class MaskFileTest : public ZefCliTest, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(MaskFileTest, MaskBesideItsImageIsItsAlphaAndNotAnImage) {
  const MaskCase& c = GetParam();
  const cv::Mat mask = AlphaRamp(16, 3);
  Save("art/ship.png", LevelImage(16, 3, 4));
  Save("art/" + c.maskFile, mask);
  Save("art/rock.png", LevelImage(5, 5, 5));
  std::vector<std::string> arguments = {"pack", "art", "-o", "out.zef", "--report", "json"};
  arguments.insert(arguments.end(), c.extraArguments.begin(), c.extraArguments.end());
  const ZefResult pack = Zef(arguments);
  ASSERT_EQ(pack.exitCode, 0) << pack.err;
  const json report = json::parse(pack.out);
  ASSERT_EQ(report["images"].size(), 2u);
  EXPECT_EQ(report["images"][0]["file"], "art/rock.png");
  EXPECT_TRUE(report["images"][0]["mask"].is_null());
  EXPECT_EQ(report["images"][1]["file"], "art/ship.png");
  EXPECT_EQ(report["images"][1]["mask"], "art/" + c.maskFile);
  EXPECT_EQ(report["alpha_values"], 4);

  ASSERT_EQ(Zef({"extract", "-o", "x", "out.zef"}).exitCode, 0);
  cv::Mat expected = mask.clone();
  expected.forEach<uint8_t>([](uint8_t& a, const int*) { a = TwoBitAlpha(a); });
  EXPECT_EQ(cv::norm(Plane(Load("x/1.png"), 3), expected, cv::NORM_INF), 0);
  EXPECT_EQ(cv::norm(Plane(Load("x/0.png"), 3), FlatMask(5, 5, 255), cv::NORM_INF), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Suffixes, MaskFileTest,
    ::testing::Values(MaskCase{"DefaultSuffix", {}, "ship_mask.png"},
                      MaskCase{"OwnSuffix", {"--mask-suffix", ".alpha"}, "ship.alpha.png"}),
    [](const auto& info) { return info.param.name; });

// --- the console tool's archive ------------------------------------------

struct CompatibleCase {
  std::string name;
  bool masks;
  int alphaValues;
  std::vector<std::string> packArguments;  // besides the files
};
// Named in test lists by its name, not by its bytes.
void PrintTo(const CompatibleCase& c, std::ostream* out) { *out << c.name; }

class CompatibleTest : public ZefCliTest, public ::testing::WithParamInterface<CompatibleCase> {};

TEST_P(CompatibleTest, ArchiveEqualsTheConsoleToolsByteForByte) {
  const CompatibleCase& c = GetParam();
  std::mt19937 random(41);
  std::string list;
  std::vector<std::string> files;
  for (int n = 0; n < 5; ++n) {
    const std::string name = "img" + std::to_string(n);
    const int width = 3 + int(random() % 40), height = 1 + int(random() % 20);
    // Colours off the levels, so that the cut shows; at most 64 of them.
    Save(name + ".png", RandomImage(random, width, height, 1 + int(random() % 64)));
    list += name + ".png\n";
    files.push_back(name + ".png");
    if (c.masks) {
      Save(name + "_mask.png", RandomMask(random, width, height));
      list += name + "_mask.png\n";
    }
  }
  WriteText("script.txt", "startindex 3\noutputfilename tool.zef\nmask " +
                              std::string(c.masks ? "yes" : "no") + "\nalphavalues " +
                              std::to_string(c.masks ? c.alphaValues : 2) + "\nstartimages\n" + list);
  const ZefResult tool = ZefiConvert({"script.txt"});
  ASSERT_TRUE(Exists("tool.zef")) << tool.out;

  const ZefResult script = Zef({"pack", "--compatible", "--script", "script.txt", "-o", "script.zef"});
  ASSERT_EQ(script.exitCode, 0) << script.err;
  EXPECT_EQ(FileBytes("script.zef"), FileBytes("tool.zef"));

  std::vector<std::string> arguments = {"pack", "--compatible", "--start-index", "3", "-o", "files.zef"};
  arguments.insert(arguments.end(), c.packArguments.begin(), c.packArguments.end());
  arguments.insert(arguments.end(), files.begin(), files.end());
  const ZefResult direct = Zef(arguments);
  ASSERT_EQ(direct.exitCode, 0) << direct.err;
  EXPECT_EQ(FileBytes("files.zef"), FileBytes("tool.zef"));
}

INSTANTIATE_TEST_SUITE_P(Settings, CompatibleTest,
                         ::testing::Values(CompatibleCase{"FourAlphaValues", true, 4, {}},
                                           CompatibleCase{"TwoAlphaValues", true, 2, {"--alpha", "2"}},
                                           CompatibleCase{"NoMasks", false, 0, {}}),
                         [](const auto& info) { return info.param.name; });

// --- reduction, jobs and refusals ------------------------------------------

TEST_F(ZefCliTest, ArchiveIsTheSameForAnyNumberOfJobs) {
  for (int n = 0; n < 12; ++n) {
    const std::string name = "set/" + std::to_string(100 + n) + ".png";
    Save(name, WithAlpha(ManyColours(20 + n, 17, 150 + n * 9, n), AlphaRamp(20 + n, 17)));
  }
  struct Case {
    const char* format;
    int mostColours;  // after reduction
  } cases[] = {{"v3", 64}, {"v4", 256}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const ZefResult one =
        Zef({"pack", "set", "-o", "one.zef", "--format", c.format, "--jobs", "1", "--report", "json"});
    const ZefResult two =
        Zef({"pack", "set", "-o", "two.zef", "--format", c.format, "--jobs", "2", "--report", "json"});
    const ZefResult all = Zef({"pack", "set", "-o", "all.zef", "--format", c.format, "--report", "json"});
    ASSERT_EQ(one.exitCode, 0) << one.err;
    ASSERT_EQ(two.exitCode, 0) << two.err;
    ASSERT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(FileBytes("one.zef"), FileBytes("two.zef"));
    EXPECT_EQ(FileBytes("one.zef"), FileBytes("all.zef"));
    json report = json::parse(one.out), other = json::parse(two.out);
    other["archive"] = report["archive"];
    EXPECT_EQ(report, other);
    for (const json& image : report["images"]) {
      EXPECT_EQ(image["reduced"], true);
      EXPECT_LE(image["colors_after"].get<int>(), c.mostColours);
      EXPECT_GT(image["colors_before"].get<int>(), 64);
      EXPECT_TRUE(image["psnr"].is_number());
    }
    EXPECT_EQ(report["totals"]["reduced"], 12);
  }
}

TEST_F(ZefCliTest, ColourCapAndExactRefusal) {
  Save("in/fits.png", LevelImage(8, 8, 1));
  Save("in/rich.png", WithAlpha(ManyColours(30, 10, 100, 0), AlphaRamp(30, 10)));
  const ZefResult capped = Zef({"pack", "in", "-o", "capped.zef", "--colors", "5", "--report", "json"});
  ASSERT_EQ(capped.exitCode, 0) << capped.err;
  for (const cv::Mat& image : ReadBack("capped.zef")) EXPECT_LE(DistinctColours(image), 5);
  // Dithering spreads the error, so it changes pixels but not the cap.
  ASSERT_EQ(Zef({"pack", "in", "-o", "dithered.zef", "--colors", "5", "--dither", "fs:0.8"}).exitCode, 0);
  const std::vector<cv::Mat> plain = ReadBack("capped.zef"), dithered = ReadBack("dithered.zef");
  ASSERT_EQ(dithered.size(), 2u);
  EXPECT_LE(DistinctColours(dithered[1]), 5);
  EXPECT_NE(cv::norm(plain[1], dithered[1], cv::NORM_INF), 0);
  std::filesystem::remove(dir_ / "dithered.zef");

  WriteText("old.zef", "kept");
  const ZefResult exact = Zef({"pack", "in", "-o", "old.zef", "--colors", "exact"});
  EXPECT_EQ(exact.exitCode, 1);
  EXPECT_NE(exact.err.find("in/rich.png"), std::string::npos) << exact.err;
  EXPECT_EQ(exact.out, "");
  EXPECT_EQ(FileBytes("old.zef"), (Bytes{'k', 'e', 'p', 't'}));
  const ZefResult fresh = Zef({"pack", "in", "-o", "new.zef", "--colors", "exact"});
  EXPECT_EQ(fresh.exitCode, 1);
  // Neither the archive nor a temporary file is left.
  EXPECT_EQ(Listing(), (std::vector<std::string>{"capped.zef", "in", "old.zef"}));
}

// --- version 4, alpha codes and the composite PSNR --------------------------

// What the library decodes for an archive: BGRA per image, alpha in 8 bits.
std::vector<cv::Mat> DecodedBgra(const std::filesystem::path& file) {
  const zef::DecodeResult decoded = zef::DecodeFile(file.string());
  std::vector<cv::Mat> images;
  if (!decoded.Ok()) return images;
  for (const zef::DecodedImage& image : decoded.images) {
    cv::Mat bgra(int(image.height), int(image.width), CV_8UC4);
    for (size_t i = 0; i < size_t(image.width) * image.height; ++i) {
      const uint8_t alpha = image.alphaCodes.empty() ? 255 : zef::Alpha8(image.alphaCodes[i], decoded.info.alphaBits);
      bgra.at<cv::Vec4b>(int(i / image.width), int(i % image.width)) =
          cv::Vec4b(image.pixels[3 * i], image.pixels[3 * i + 1], image.pixels[3 * i + 2], alpha);
    }
    images.push_back(bgra);
  }
  return images;
}

// Squared error and samples of the composites over black and white, counted
// here from its definition, apart from the program's own code.
std::pair<double, double> CompositeSquares(const cv::Mat& source, const cv::Mat& shown) {
  double squares = 0, samples = 0;
  for (int y = 0; y < source.rows; ++y) {
    for (int x = 0; x < source.cols; ++x) {
      const cv::Vec4b s = source.at<cv::Vec4b>(y, x), d = shown.at<cv::Vec4b>(y, x);
      if (s[3] == 0 && d[3] == 0) continue;
      for (double background : {0.0, 255.0}) {
        for (int c = 0; c < 3; ++c) {
          const double from = (s[c] * s[3] + background * (255 - s[3])) / 255.0;
          const double to = (d[c] * d[3] + background * (255 - d[3])) / 255.0;
          squares += (to - from) * (to - from);
          samples += 1;
        }
      }
    }
  }
  return {squares, samples};
}

double PsnrOf(std::pair<double, double> error) {
  return error.first == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * error.second / error.first);
}

// BGRA with each colour as its BT.601 luma, rounded.
cv::Mat Luma(const cv::Mat& bgra) {
  cv::Mat grey = bgra.clone();
  grey.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) {
    const uint8_t luma = uint8_t((114 * p[0] + 587 * p[1] + 299 * p[2] + 500) / 1000);
    p = cv::Vec4b(luma, luma, luma, p[3]);
  });
  return grey;
}

// An icon: many colours on a soft disc, a faint shadow, clear pixels of
// varying colour around it.
cv::Mat SoftIcon(int side, int seed) {
  cv::Mat icon(side, side, CV_8UC4);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const double r = std::hypot(x - side / 2.0, y - side / 2.0) / (side / 2.0);
      const double cover = std::clamp((0.8 - r) * 10, 0.0, 1.0);
      const double shadow = r < 1 ? 50 * (1 - r) : 0;
      icon.at<cv::Vec4b>(y, x) = cv::Vec4b(uint8_t(x * 7 + seed), uint8_t(y * 5 + 3 * seed), uint8_t((x * y + seed) % 256),
                                           uint8_t(std::lround(std::max(255 * cover, shadow))));
    }
  }
  return icon;
}

TEST_F(ZefCliTest, ReportsGiveTheCompositePsnrOfWhatTheArchiveShows) {
  for (int n = 0; n < 3; ++n) Save("set/" + std::to_string(n) + ".png", SoftIcon(20 + 6 * n, n));
  const std::vector<cv::Mat> sources = {Load("set/0.png"), Load("set/1.png"), Load("set/2.png")};
  struct Case {
    std::vector<std::string> arguments;
    int version;
    double quality;  // 0: none
    bool grey = false;  // measured against the luma
  };
  const Case cases[] = {
      {{"--compatible"}, 3, 0},
      {{}, 3, 0},
      {{"--format", "v4"}, 4, 40},
      {{"--format", "v4", "--quality", "33.5"}, 4, 33.5},
      {{"--format", "v4", "--colors", "6"}, 4, 0},
      {{"--target", "gray:4"}, 4, 0, true},
      {{"--target", "gray:1", "--dither", "fs"}, 4, 0, true},
  };
  std::map<std::string, double> totals;
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"pack", "set", "-o", "out.zef", "--report", "json"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const std::string what = ::testing::PrintToString(c.arguments);
    const ZefResult pack = Zef(arguments);
    ASSERT_EQ(pack.exitCode, 0) << what << pack.err;
    const json report = json::parse(pack.out);
    EXPECT_EQ(report["version"], c.version) << what;
    const std::vector<cv::Mat> shown = DecodedBgra(dir_ / "out.zef");
    ASSERT_EQ(shown.size(), 3u) << what;
    std::pair<double, double> pooled{0, 0};
    for (size_t n = 0; n < 3; ++n) {
      const json& image = report["images"][n];
      const auto error = CompositeSquares(c.grey ? Luma(sources[n]) : sources[n], shown[n]);
      pooled.first += error.first;
      pooled.second += error.second;
      ASSERT_TRUE(image["composite_psnr"].is_number()) << what << image;
      EXPECT_NEAR(image["composite_psnr"].get<double>(), PsnrOf(error), 1e-6) << what << n;
      // Below the cap of 256 entries the target is reached.
      if (c.quality > 0 && image["colors_after"] < 256) {
        EXPECT_GE(image["composite_psnr"].get<double>(), c.quality) << what << n;
      }
      if (c.version == 4 && !c.grey) EXPECT_LE(image["colors_after"].get<int>(), c.arguments.back() == "6" ? 6 : 256);
    }
    EXPECT_NEAR(report["totals"]["composite_psnr"].get<double>(), PsnrOf(pooled), 1e-6) << what;
    totals[what] = PsnrOf(pooled);
    // The one line without a report names it too.
    arguments.resize(arguments.size() - c.arguments.size() - 2);
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ZefResult quiet = Zef(arguments);
    EXPECT_NE(quiet.err.find("composite PSNR "), std::string::npos) << quiet.err;
  }
  // Nearest alpha codes beat the console tool's cut; 8-bit alpha beats both.
  EXPECT_GT(totals["{}"], totals["{ \"--compatible\" }"] + 0.5);
  EXPECT_GT(totals["{ \"--format\", \"v4\" }"], totals["{}"] + 5);
}

TEST_F(ZefCliTest, Version3TakesTheNearestAlphaCodeOutsideCompatibleMode) {
  struct Case {
    uint8_t alpha, nearest, cut;
  };
  const Case cases[] = {{0, 0, 0},       {42, 0, 0},       {43, 85, 0},      {63, 85, 0},  {64, 85, 85},
                        {127, 85, 85},   {128, 170, 170},   {191, 170, 170},  {192, 170, 255},
                        {212, 170, 255}, {213, 255, 255},  {255, 255, 255}};
  cv::Mat alpha(1, int(std::size(cases)), CV_8UC1);
  for (size_t n = 0; n < std::size(cases); ++n) alpha.at<uint8_t>(0, int(n)) = cases[n].alpha;
  Save("a.png", WithAlpha(LevelImage(alpha.cols, 1, 2), alpha));
  ASSERT_EQ(Zef({"pack", "a.png", "-o", "nearest.zef"}).exitCode, 0);
  ASSERT_EQ(Zef({"pack", "a.png", "-o", "cut.zef", "--compatible"}).exitCode, 0);
  const std::vector<cv::Mat> nearest = DecodedBgra(dir_ / "nearest.zef"), cut = DecodedBgra(dir_ / "cut.zef");
  ASSERT_EQ(nearest.size(), 1u);
  ASSERT_EQ(cut.size(), 1u);
  for (size_t n = 0; n < std::size(cases); ++n) {
    EXPECT_EQ(nearest[0].at<cv::Vec4b>(0, int(n))[3], cases[n].nearest) << int(cases[n].alpha);
    EXPECT_EQ(cut[0].at<cv::Vec4b>(0, int(n))[3], cases[n].cut) << int(cases[n].alpha);
  }
}

TEST_F(ZefCliTest, Version4KeepsAnExactPaletteExactly) {
  // Colours and alphas anywhere in 8 bits; clear pixels of any colour.
  const cv::Vec4b colours[] = {{255, 255, 255, 255}, {1, 2, 3, 4},     {200, 17, 99, 128},
                               {0, 0, 0, 255},       {9, 250, 31, 1},  {77, 77, 77, 0},
                               {13, 14, 15, 0},      {255, 0, 128, 254}};
  cv::Mat image(7, 23, CV_8UC4);
  for (int y = 0; y < image.rows; ++y) {
    for (int x = 0; x < image.cols; ++x) image.at<cv::Vec4b>(y, x) = colours[(x / (1 + y % 3) + y) % 8];
  }
  Save("exact.png", image);
  for (const std::vector<std::string>& extra : {std::vector<std::string>{"--colors", "exact"},
                                                std::vector<std::string>{"--quality", "100"}}) {
    std::vector<std::string> arguments = {"pack", "exact.png", "-o", "out.zef", "--format", "v4", "--report", "json"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const ZefResult pack = Zef(arguments);
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    const json report = json::parse(pack.out);
    EXPECT_EQ(report["images"][0]["reduced"], false);
    EXPECT_EQ(report["images"][0]["colors_after"], 7);  // the two clear colours are one
    EXPECT_TRUE(report["images"][0]["composite_psnr"].is_null());
    const std::vector<cv::Mat> shown = DecodedBgra(dir_ / "out.zef");
    ASSERT_EQ(shown.size(), 1u);
    for (int y = 0; y < image.rows; ++y) {
      for (int x = 0; x < image.cols; ++x) {
        const cv::Vec4b source = image.at<cv::Vec4b>(y, x);
        EXPECT_EQ(shown[0].at<cv::Vec4b>(y, x), source[3] == 0 ? cv::Vec4b(0, 0, 0, 0) : source) << x << "," << y;
      }
    }
  }
}

// A grey target shows only its levels, in grey, with each pixel's alpha;
// without dithering each pixel takes the level nearest its luma, and
// dithering keeps the mean tone of a flat grey that no level matches.
TEST_F(ZefCliTest, GreyTargetShowsItsLevelsAndKeepsAlpha) {
  // Left: every grey from 0 to 255 under an alpha ramp of 128 values;
  // right: a flat dark grey, opaque, of luma 64.
  cv::Mat picture(32, 64, CV_8UC4);
  for (int y = 0; y < picture.rows; ++y) {
    for (int x = 0; x < picture.cols; ++x) {
      const int n = y * 32 + x;
      picture.at<cv::Vec4b>(y, x) =
          x < 32 ? cv::Vec4b(uint8_t(n % 7 * 40), uint8_t(n / 4), uint8_t(n % 256), uint8_t(n / 8 * 2))
                 : cv::Vec4b(64, 64, 64, 255);
    }
  }
  Save("ramp.png", picture);
  const cv::Mat luma = Luma(picture);
  struct Case {
    int bits;
    std::string dither;
    // How far alpha may move: where (level, alpha) pairs outnumber a
    // palette, alpha is rounded to fewer values, and at 8 bits the palette
    // search merges pairs.
    int alphaStep;
  };
  const Case cases[] = {{1, "none", 0}, {1, "fs", 0},      {1, "ordered", 0}, {2, "fs", 3},
                        {4, "none", 9}, {4, "ordered", 9}, {8, "none", 255}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + " bits, dither " + c.dither);
    const ZefResult pack = Zef({"pack", "ramp.png", "-o", "grey.zef", "--target", "gray:" + std::to_string(c.bits),
                                "--dither", c.dither, "--report", "json"});
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    EXPECT_EQ(json::parse(pack.out)["target"], "gray:" + std::to_string(c.bits));
    const std::vector<cv::Mat> shown = DecodedBgra(dir_ / "grey.zef");
    ASSERT_EQ(shown.size(), 1u);
    const int step = 255 / ((1 << c.bits) - 1);
    double flatSum = 0;
    int wrong = 0;
    for (int y = 0; y < picture.rows; ++y) {
      for (int x = 0; x < picture.cols; ++x) {
        const cv::Vec4b p = shown[0].at<cv::Vec4b>(y, x), source = luma.at<cv::Vec4b>(y, x);
        // Clear stays clear; faint pixels may round to clear.
        if (source[3] == 0 || p[3] == 0) {
          wrong += p[3] != 0 || source[3] > c.alphaStep;
          continue;
        }
        const bool level = p[0] == p[1] && p[1] == p[2] && p[0] % step == 0;
        const bool alpha = std::abs(p[3] - source[3]) <= c.alphaStep;
        const bool nearest = c.dither != "none" || c.bits == 8 || std::abs(p[0] - source[0]) * 2 <= step;
        wrong += !level || !alpha || !nearest;
        if (x >= 32) flatSum += p[0];
      }
    }
    EXPECT_EQ(wrong, 0);
    const double flatMean = flatSum / (32 * 32);
    if (c.bits == 8) continue;
    if (c.dither == "none") {
      EXPECT_EQ(flatMean, std::round(64.0 / step) * step);
    } else {
      EXPECT_NEAR(flatMean, 64, 6);
    }
  }

  // Luma is rounded from its weights: red 76.245, green 149.685, blue
  // 29.07, and (10, 200, 30) 123.8.
  const cv::Vec3b colours[] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {30, 200, 10}, {255, 255, 255}};
  const uint8_t lumas[] = {76, 150, 29, 124, 255};
  cv::Mat plain(1, int(std::size(colours)), CV_8UC3);
  for (size_t n = 0; n < std::size(colours); ++n) plain.at<cv::Vec3b>(0, int(n)) = colours[n];
  Save("plain.png", plain);
  ASSERT_EQ(Zef({"pack", "plain.png", "-o", "plain.zef", "--target", "gray:8"}).exitCode, 0);
  const std::vector<cv::Mat> shown = DecodedBgra(dir_ / "plain.zef");
  ASSERT_EQ(shown.size(), 1u);
  for (size_t n = 0; n < std::size(colours); ++n) {
    EXPECT_EQ(shown[0].at<cv::Vec4b>(0, int(n)), cv::Vec4b(lumas[n], lumas[n], lumas[n], 255)) << n;
  }
}

// --- exit codes ------------------------------------------------------------

struct ExitCase {
  std::string name;
  std::vector<std::string> arguments;
  int exitCode;
  std::string message;  // part of standard error
  const char* standardOutput = nullptr;  // as RunProgram takes it
};
// Named in test lists by its name, not by its bytes.
void PrintTo(const ExitCase& c, std::ostream* out) { *out << c.name; }

class ExitCodeTest : public ZefCliTest, public ::testing::WithParamInterface<ExitCase> {
 protected:
  void SetUp() override {
    Save("a.png", LevelImage(4, 4, 0));
    Save("b.png", LevelImage(4, 4, 1));
    Save("b_mask.png", FlatMask(3, 4, 200));
    WriteText("notes.png", "not a picture");
    WriteText("broken.zef", "\xAA\xFF\xAA\x03");
    WriteText("bad.txt", "outputfilename x.zef\nmask no\nstartimages\na.png\n");
    WriteText("long.txt", "startindex 0\n" + std::string(70000, 'a') + "\n");
    WriteText("script.txt", "startindex 0\noutputfilename s.zef\nmask no\nstartimages\na.png\n");
    WriteText("old.zef", "kept");
    // Files a run may replace, private to their owner or group.
    std::filesystem::permissions(dir_ / "old.zef", std::filesystem::perms(0600));
    std::filesystem::permissions(dir_ / "bad.txt", std::filesystem::perms(0640));
    std::filesystem::create_directory(dir_ / "dir");
    ASSERT_EQ(Zef({"pack", "a.png", "-o", "good.zef"}).exitCode, 0);
    std::filesystem::copy_file(dir_ / "good.zef", dir_ / "0.png");
    // 1000 x 500 pixels: more than 1 MiB decoded.
    const std::vector<uint8_t> row(1000 * 3, 0x40);
    const zef::EncodeResult big = zef::Encode({{row.data(), 1000, 500, 0}}, {}, {});
    ASSERT_TRUE(big.Ok()) << big.message;
    WriteFile(dir_ / "big.zef", big.bytes);
    Save("wide.png", cv::Mat(1, 65535, CV_8UC3, cv::Scalar::all(0)));
  }
  // Each file's contents and permission bits (a folder's contents as none).
  std::vector<std::pair<Bytes, int>> Files() const {
    std::vector<std::pair<Bytes, int>> files;
    for (const std::string& name : Listing()) {
      struct stat status {};
      stat((dir_ / name).c_str(), &status);
      files.emplace_back(name == "dir" ? Bytes{} : FileBytes(name), int(status.st_mode & 07777));
    }
    return files;
  }
};

TEST_P(ExitCodeTest, ExitCodeAndMessage) {
  const ExitCase& c = GetParam();
  const std::vector<std::pair<Bytes, int>> before = Files();
  const ZefResult run = RunProgram(ZEF_PATH, c.arguments, dir_.path(), 0, c.standardOutput);
  EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
  EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  if (c.exitCode == 2) EXPECT_NE(run.err.find("Usage:"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
  // No failed run leaves a file of its own behind.
  EXPECT_EQ(Listing(), (std::vector<std::string>{"0.png", "a.png", "b.png", "b_mask.png", "bad.txt", "big.zef",
                                                "broken.zef", "dir", "good.zef", "long.txt", "notes.png",
                                                "old.zef", "script.txt", "wide.png"}));
  EXPECT_EQ(Listing("dir"), std::vector<std::string>{});
  // Nor does it change one, in its contents or its mode.
  EXPECT_EQ(Files(), before);
}

const ExitCase kExitCases[] = {
    {"NoSubcommand", {}, 2, "subcommand"},
    {"UnknownSubcommand", {"frobnicate"}, 2, "subcommand"},
    {"PackWithoutInputs", {"pack", "-o", "x.zef"}, 2, "--script"},
    {"PackWithoutOutput", {"pack", "a.png"}, 2, "--output"},
    {"ScriptAndInputs", {"pack", "--script", "s.txt", "a.png", "-o", "x.zef"}, 2, "excludes"},
    {"ColoursZero", {"pack", "a.png", "-o", "x.zef", "--colors", "0"}, 2, "--colors"},
    {"ColoursWord", {"pack", "a.png", "-o", "x.zef", "--colors", "many"}, 2, "--colors"},
    {"AlphaThree", {"pack", "a.png", "-o", "x.zef", "--alpha", "3"}, 2, "--alpha"},
    {"DitherTooStrong", {"pack", "a.png", "-o", "x.zef", "--dither", "fs:2"}, 2, "--dither"},
    {"EmptyMaskSuffix", {"pack", "a.png", "-o", "x.zef", "--mask-suffix", ""}, 2, "--mask-suffix"},
    {"NoJobs", {"pack", "a.png", "-o", "x.zef", "--jobs", "0"}, 2, "--jobs"},
    {"StartIndexTooHigh", {"pack", "a.png", "-o", "x.zef", "--start-index", "10000001"}, 2, "--start-index"},
    {"UnknownReport", {"pack", "a.png", "-o", "x.zef", "--report", "xml"}, 2, "--report"},
    {"UnknownFormat", {"pack", "a.png", "-o", "x.zef", "--format", "v5"}, 2, "--format"},
    {"FormatNumberOnly", {"pack", "a.png", "-o", "x.zef", "--format", "4"}, 2, "--format"},
    {"CompatibleVersion4", {"pack", "a.png", "-o", "x.zef", "--format", "v4", "--compatible"}, 2, "--compatible"},
    {"QualityForVersion3", {"pack", "a.png", "-o", "x.zef", "--quality", "40"}, 2, "--quality"},
    {"QualityWord", {"pack", "a.png", "-o", "x.zef", "--format", "v4", "--quality", "high"}, 2, "--quality"},
    {"QualityInfinite", {"pack", "a.png", "-o", "x.zef", "--format", "v4", "--quality", "inf"}, 2, "--quality"},
    {"QualityExponent", {"pack", "a.png", "-o", "x.zef", "--format", "v4", "--quality", "4e1"}, 2, "--quality"},
    {"QualityHex", {"pack", "a.png", "-o", "x.zef", "--format", "v4", "--quality", "0x28"}, 2, "--quality"},
    {"QualityNegative", {"pack", "a.png", "-o", "x.zef", "--format", "v4", "--quality", "-40"}, 2, "--quality"},
    {"QualityZero", {"pack", "a.png", "-o", "x.zef", "--format", "v4", "--quality", "0"}, 2, "--quality"},
    {"QualityTooHigh", {"pack", "a.png", "-o", "x.zef", "--format", "v4", "--quality", "100.5"}, 2, "--quality"},
    {"QualityTwoPoints", {"pack", "a.png", "-o", "x.zef", "--format", "v4", "--quality", "4.0.1"}, 2, "--quality"},
    {"ColoursTooManyVersion4", {"pack", "a.png", "-o", "x.zef", "--format", "v4", "--colors", "257"}, 2, "--colors"},
    {"ColoursSigned", {"pack", "a.png", "-o", "x.zef", "--format", "v4", "--colors", "+8"}, 2, "--colors"},
    {"ColoursHex", {"pack", "a.png", "-o", "x.zef", "--colors", "0x10"}, 2, "--colors"},
    {"AlphaBitsForVersion4", {"pack", "a.png", "-o", "x.zef", "--format", "v4", "--alpha", "2"}, 2, "--alpha"},
    {"DitherForVersion4", {"pack", "a.png", "-o", "x.zef", "--format", "v4", "--dither", "fs"}, 2, "--dither"},
    {"OrderedDitherForColour", {"pack", "a.png", "-o", "x.zef", "--dither", "ordered"}, 2, "--target gray:N"},
    {"GreyOfThreeBits", {"pack", "a.png", "-o", "x.zef", "--target", "gray:3"}, 2, "--target"},
    {"GreyWithoutBits", {"pack", "a.png", "-o", "x.zef", "--target", "gray"}, 2, "--target"},
    {"GreyAsVersion3", {"pack", "a.png", "-o", "x.zef", "--target", "gray:1", "--format", "v3"}, 2, "--format v3"},
    {"GreyCompatible", {"pack", "a.png", "-o", "x.zef", "--target", "gray:1", "--compatible"}, 2, "--compatible"},
    {"GreyColours", {"pack", "a.png", "-o", "x.zef", "--target", "gray:2", "--colors", "3"}, 2, "--colors"},
    {"GreyAlphaBits", {"pack", "a.png", "-o", "x.zef", "--target", "gray:2", "--alpha", "2"}, 2, "--alpha"},
    {"InfoWithoutArchive", {"info"}, 2, "archive"},
    {"ExtractWithoutFolder", {"extract", "x.zef"}, 2, "--output"},
    {"MissingInput", {"pack", "a.png", "gone.png", "-o", "x.zef"}, 1, "gone.png"},
    {"NotAPicture", {"pack", "a.png", "notes.png", "-o", "x.zef"}, 1, "notes.png"},
    {"NotAPictureForThePage", {"pack", "a.png", "notes.png", "-o", "x.zef", "--report", "html"}, 1, "notes.png"},
    {"MaskOfOtherSize", {"pack", "b.png", "-o", "x.zef"}, 1, "b_mask.png"},
    {"MissingScript", {"pack", "--script", "none.txt"}, 1, "could not open file none.txt"},
    {"IncompleteScript", {"pack", "--script", "bad.txt"}, 1, "bad.txt: Missing StartIndex..."},
    {"ScriptLineTooLong", {"pack", "--script", "long.txt"}, 1,
     "long.txt: Line 2 of the script is longer than 65536 bytes..."},
    {"ArchiveOverItsInput", {"pack", "a.png", "-o", "a.png"}, 1, "a.png: the archive would replace this input"},
    {"ArchiveOverAMask", {"pack", "b.png", "-o", "./b_mask.png"}, 1, "b_mask.png: the archive would replace"},
    {"HeaderOverAnInput", {"pack", "a.png", "-o", "x.zef", "--header", "a.png"}, 1,
     "a.png: the header would replace this input"},
    {"HeaderOverTheArchive", {"pack", "a.png", "-o", "x.zef", "--header", "./x.zef"}, 1,
     "the header would replace the archive"},
    {"OutputFolderMissing", {"pack", "a.png", "-o", "no/such/x.zef"}, 1, "no/such"},
    {"DamagedArchiveInfo", {"info", "broken.zef"}, 1, "broken.zef: "},
    {"DamagedArchiveExtract", {"extract", "-o", ".", "broken.zef"}, 1, "broken.zef: "},
    {"MissingArchive", {"info", "gone.zef"}, 1, "gone.zef"},
    {"EmbedWithoutArchive", {"embed", "-o", "x.c"}, 2, "archive"},
    {"EmbedSymbolDigit", {"embed", "--symbol", "1x", "broken.zef"}, 2, "--symbol"},
    {"EmbedSymbolDash", {"embed", "--symbol", "ui-icons", "broken.zef"}, 2, "--symbol"},
    {"EmbedSymbolKeyword", {"embed", "--symbol", "while", "broken.zef"}, 2, "keyword"},
    {"EmbedSymbolEmpty", {"embed", "--symbol", "", "broken.zef"}, 2, "--symbol"},
    {"EmbedAlignThree", {"embed", "--align", "3", "broken.zef"}, 2, "power of two"},
    {"EmbedAlignZero", {"embed", "--align", "0", "broken.zef"}, 2, "--align"},
    {"EmbedAlignTooLarge", {"embed", "--align", "131072", "broken.zef"}, 2, "--align"},
    {"EmbedAlignWord", {"embed", "--align", "four", "broken.zef"}, 2, "--align"},
    {"EmbedSectionQuote", {"embed", "--section", "a\"b", "broken.zef"}, 2, "--section"},
    {"EmbedSectionSpace", {"embed", "--section", "with space", "broken.zef"}, 2, "--section"},
    {"EmbedSectionTrigraph", {"embed", "--section", "?\?/", "broken.zef"}, 2, "--section"},
    {"EmbedSectionComma", {"embed", "--section", "__DATA,__const", "broken.zef"}, 2, "--section"},
    {"EmbedSymbolMain", {"embed", "--symbol", "main", "broken.zef"}, 2, "--symbol"},
    {"EmbedSymbolNull", {"embed", "--symbol", "NULL", "broken.zef"}, 2, "--symbol"},
    {"EmbedSymbolSizeType", {"embed", "--symbol", "size_t", "broken.zef"}, 2, "--symbol"},
    {"EmbedSymbolByteType", {"embed", "--symbol", "uint8_t", "broken.zef"}, 2, "--symbol"},
    {"EmbedSymbolSizeMax", {"embed", "--symbol", "SIZE_MAX", "broken.zef"}, 2, "--symbol"},
    {"EmbedSymbolFunc", {"embed", "--symbol", "__func__", "broken.zef"}, 2, "--symbol"},
    {"EmbedSymbolUnderscoreCapital", {"embed", "--symbol", "_Data", "broken.zef"}, 2, "--symbol"},
    {"EmbedAlignHex", {"embed", "--align", "0x10", "broken.zef"}, 2, "--align"},
    {"StartIndexHex", {"pack", "a.png", "-o", "x.zef", "--start-index", "0x10"}, 2, "--start-index"},
    {"StartIndexSign", {"pack", "a.png", "-o", "x.zef", "--start-index", "+1"}, 2, "--start-index"},
    {"JobsHex", {"pack", "a.png", "-o", "x.zef", "--jobs", "0x2"}, 2, "--jobs"},
    {"DecodeLimitWord", {"extract", "-o", "out", "--decode-limit", "lots", "good.zef"}, 2, "--decode-limit"},
    // Outputs: only regular files are replaced, all or none, never an input.
    {"ArchiveOverAFolder", {"pack", "a.png", "-o", "dir"}, 1, "dir: is a folder"},
    {"HeaderOverAFolder", {"pack", "a.png", "-o", "old.zef", "--header", "dir"}, 1, "dir: is a folder"},
    {"EmbedHeaderOverAFolder", {"embed", "-o", "old.zef", "--header", "dir", "good.zef"}, 1, "dir: is a folder"},
    {"HeaderOverTheScript", {"pack", "--script", "script.txt", "--header", "script.txt"}, 1,
     "script.txt: the header would replace this input"},
    {"ArchiveOverTheScript", {"pack", "--script", "script.txt", "-o", "./script.txt"}, 1,
     "script.txt: the archive would replace this input"},
    {"EmbedHeaderOverItsOutput", {"embed", "-o", "x.c", "--header", "./x.c", "good.zef"}, 1,
     "the header would replace the output"},
    {"ExtractOverItsArchive", {"extract", "-o", ".", "0.png"}, 1, "the picture would replace the archive"},
    {"EndlessScript", {"pack", "--script", "/dev/urandom"}, 1, "The script has more than 262144 lines..."},
    // Messages that say what is wrong with an input.
    {"FolderAsArchive", {"info", "dir"}, 1, "dir: is a folder, not an archive"},
    {"EmbedSectionEmpty", {"embed", "--section", "", "broken.zef"}, 2, "--section"},
    {"EmbedUnknownFormat", {"embed", "--format", "hex", "broken.zef"}, 2, "--format"},
    {"EmbedSameOutputAndHeader", {"embed", "-o", "x.h", "--header", "x.h", "broken.zef"}, 2, "same file"},
    {"EmbedDamagedArchive", {"embed", "-o", "x.c", "--header", "x.h", "broken.zef"}, 1, "broken.zef: "},
    {"EmbedNotAnArchive", {"embed", "--format", "bin", "-o", "x.bin", "a.png"}, 1, "a.png: "},
    {"EmbedOverItsArchive", {"embed", "-o", "./broken.zef", "broken.zef"}, 1,
     "broken.zef: the output would replace the archive"},
    {"EmbedMissingArchive", {"embed", "gone.zef"}, 1, "gone.zef: cannot open"},
    // Standard output is one more output: written before any file is replaced.
    {"PackReportToAFullOutput", {"pack", "a.png", "-o", "old.zef", "--header", "bad.txt", "--report", "json"}, 1,
     "zef: standard output: cannot write it (", "/dev/full"},
    {"PackPageToAFullOutput", {"pack", "a.png", "-o", "old.zef", "--header", "bad.txt", "--report", "html"}, 1,
     "zef: standard output: cannot write it (", "/dev/full"},
    {"EmbedToAFullOutput", {"embed", "good.zef", "--header", "old.zef"}, 1, "zef: standard output: cannot write it (",
     "/dev/full"},
    {"EmbedToAClosedOutput", {"embed", "good.zef", "--header", "bad.txt"}, 1, "zef: standard output: cannot write it (",
     ""},
    {"ExtractIntoNewNestedFolders", {"extract", "--decode-limit", "1", "-o", "k1/k2/k3", "big.zef"}, 1,
     "image too large"},
    {"TooWideForVersion4", {"pack", "wide.png", "-o", "old.zef", "--format", "v4"}, 1,
     "zef: wide.png: img 0: maximum width of an image is 65534\n"},
};

INSTANTIATE_TEST_SUITE_P(Runs, ExitCodeTest, ::testing::ValuesIn(kExitCases),
                         [](const auto& info) { return info.param.name; });

// Devices, FIFOs, sockets and links to them are never replaced; a link to
// a regular file is written through and stays a link.
TEST_F(ZefCliTest, OnlyRegularFilesAreReplacedAndLinksAreWrittenThrough) {
  Save("a.png", LevelImage(4, 4, 0));
  std::filesystem::create_directory(dir_ / "d");
  ASSERT_EQ(mkfifo((dir_ / "d/fifo").c_str(), 0666), 0);
  std::filesystem::create_symlink("/proc/self/fd/1", dir_ / "d/out");
  std::vector<std::string> targets = {"d/fifo", "d/out"};
  // A device node needs root; without one the FIFO and the link still run.
  const bool device = mknod((dir_ / "d/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  if (device) targets.push_back("d/null");
  for (const std::string& target : targets) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"pack", "a.png", "-o", target},
          {"pack", "a.png", "-o", "x.zef", "--header", target},
          {"embed", "-o", target, "x.zef"}}) {
      SCOPED_TRACE(arguments[0] + " " + arguments[arguments.size() - 2]);
      ASSERT_EQ(Zef({"pack", "a.png", "-o", "x.zef"}).exitCode, 0);
      const Bytes archive = FileBytes("x.zef");
      const ZefResult run = Zef(arguments);
      EXPECT_EQ(run.exitCode, 1);
      EXPECT_NE(run.err.find(target + ": is a "), std::string::npos) << run.err;
      EXPECT_EQ(FileBytes("x.zef"), archive);
    }
  }
  struct stat status {};
  ASSERT_EQ(lstat((dir_ / "d/fifo").c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "d/out"));
  ASSERT_EQ(lstat((dir_ / "d/null").c_str(), &status) == 0, device);
  EXPECT_TRUE(!device || S_ISCHR(status.st_mode));
  EXPECT_EQ(Listing("d").size(), targets.size());
  // A FIFO as an input is named for what it is.
  const ZefResult fifo = Zef({"pack", "d/fifo", "-o", "y.zef"});
  EXPECT_EQ(fifo.exitCode, 1);
  EXPECT_NE(fifo.err.find("d/fifo: not a regular file"), std::string::npos) << fifo.err;

  WriteText("real.zef", "old");
  std::filesystem::create_symlink("real.zef", dir_ / "link.zef");
  ASSERT_EQ(Zef({"pack", "a.png", "-o", "link.zef"}).exitCode, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "link.zef"));
  EXPECT_EQ(FileBytes("real.zef"), FileBytes("x.zef"));
}

TEST_F(ZefCliTest, ExtractLeavesEveryFileItDidNotMakeAsItWas) {
  Save("a.png", LevelImage(4, 4, 0));
  Save("b.png", LevelImage(5, 4, 1));
  ASSERT_EQ(Zef({"pack", "a.png", "b.png", "-o", "two.zef"}).exitCode, 0);
  std::filesystem::create_directories(dir_ / "out/1.png");
  WriteText("out/0.png", "mine");
  const ZefResult run = Zef({"extract", "-o", "out", "two.zef"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("1.png: is a folder"), std::string::npos) << run.err;
  EXPECT_EQ(FileBytes("out/0.png"), (Bytes{'m', 'i', 'n', 'e'}));
  EXPECT_EQ(Listing("out"), (std::vector<std::string>{"0.png", "1.png"}));
}

// Under a memory limit an image too large to decode is out of memory, not
// a damaged archive; the default limit refuses it first, and pictures are
// decoded one at a time, so that a raised limit needs only the largest.
TEST_F(ZefCliTest, ExtractDecodesOneImageAtATimeUnderItsDecodeLimit) {
  std::vector<uint8_t> row(4000 * 3, 0x40);
  const zef::EncodeResult archive = zef::Encode(
      {{row.data(), 4000, 12000, 0}, {row.data(), 4000, 12000, 0}, {row.data(), 4000, 12000, 0}}, {}, {});
  ASSERT_TRUE(archive.Ok()) << archive.message;
  WriteFile(dir_ / "big.zef", archive.bytes);
  // 144 MB an image with alpha, 432 MB for the three.
  const ZefResult limited = Zef({"extract", "-o", "out", "--decode-limit", "100", "big.zef"});
  EXPECT_EQ(limited.exitCode, 1);
  EXPECT_EQ(limited.err, "zef: big.zef: error in image data (image too large); --decode-limit raises the "
                         "limit of 100 MiB\n");
  EXPECT_FALSE(Exists("out"));  // the folder it made for nothing is taken away again
  const ZefResult whole = Zef({"extract", "-o", "out", "--decode-limit", "200", "big.zef"});
  ASSERT_EQ(whole.exitCode, 0) << whole.err;
  EXPECT_EQ(Listing("out"), (std::vector<std::string>{"0.png", "1.png", "2.png"}));
  std::filesystem::remove_all(dir_ / "out");
  if (!kAddressSpaceLimits) return;
  // Room for the program and one image, not for three; then not for one.
  const ZefResult peak =
      RunProgram(ZEF_PATH, {"extract", "-o", "out", "--decode-limit", "200", "big.zef"}, dir_.path(), 0, nullptr, 450);
  EXPECT_EQ(peak.exitCode, 0) << peak.err;
  const ZefResult starved =
      RunProgram(ZEF_PATH, {"extract", "-o", "low", "--decode-limit", "200", "big.zef"}, dir_.path(), 0, nullptr, 250);
  EXPECT_EQ(starved.exitCode, 1);
  EXPECT_EQ(starved.err, "zef: big.zef: out of memory\n");
  EXPECT_FALSE(Exists("low"));
}

TEST_F(ZefCliTest, StandardOutputThatCannotBeWrittenFailsTheRun) {
  Save("a.png", LevelImage(4, 4, 0));
  ASSERT_EQ(Zef({"pack", "a.png", "-o", "a.zef"}).exitCode, 0);
  for (const char* output : {"/dev/full", ""}) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"info", "a.zef"}, {"info", "--json", "a.zef"},
          {"pack", "a.png", "-o", "b.zef", "--report", "json"}, {"pack", "a.png", "-o", "b.zef", "--report", "html"},
          {"embed", "a.zef"}}) {
      SCOPED_TRACE(arguments[0] + " " + arguments[1] + " to " + (*output ? output : "a closed descriptor"));
      const ZefResult run = RunProgram(ZEF_PATH, arguments, dir_.path(), 0, output);
      EXPECT_EQ(run.exitCode, 1);
      EXPECT_NE(run.err.find("zef: standard output: cannot write it ("), std::string::npos) << run.err;
    }
  }
}

int Mode(const std::filesystem::path& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? int(status.st_mode & 07777) : -1;
}

// Through a link too; a new file gets what new files get.
TEST_F(ZefCliTest, ReplacedFilesKeepTheirMode) {
  Save("a.png", LevelImage(4, 4, 0));
  for (const auto& [name, mode] : {std::pair<std::string, int>{"priv.zef", 0600}, {"priv.h", 0640}, {"t.zef", 0604}}) {
    WriteText(name, "old");
    std::filesystem::permissions(dir_ / name, std::filesystem::perms(mode));
  }
  std::filesystem::create_symlink("t.zef", dir_ / "link.zef");
  ASSERT_EQ(Zef({"pack", "a.png", "-o", "priv.zef", "--header", "priv.h"}).exitCode, 0);
  ASSERT_EQ(Zef({"embed", "priv.zef", "-o", "new.c", "--header", "link.zef"}).exitCode, 0);
  EXPECT_EQ(std::vector<int>({Mode(dir_ / "priv.zef"), Mode(dir_ / "priv.h"), Mode(dir_ / "t.zef")}),
            std::vector<int>({0600, 0640, 0604}));
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(Mode(dir_ / "new.c"), int(0666 & ~mask));
}

// Each of many pictures has a temporary file: a SIGINT at any moment
// leaves none of them.
TEST_F(ZefCliTest, InterruptedExtractLeavesNoTemporaryFile) {
  const uint8_t pixel[3] = {1, 2, 3};
  const zef::EncodeResult archive = zef::Encode(std::vector<zef::ImageView>(20000, {pixel, 1, 1, 3}), {}, {});
  WriteFile(dir_ / "many.zef", archive.bytes);
  int interrupted = 0;
  for (const int millis : {50, 100, 200, 300, 500, 800, 1200, 2000}) {
    const pid_t child = fork();
    if (child == 0 && chdir(dir_.path().c_str()) == 0 && dup2(open("/dev/null", O_WRONLY), STDERR_FILENO) >= 0) {
      execl(ZEF_PATH, ZEF_PATH, "extract", "-o", std::to_string(millis).c_str(), "many.zef", nullptr);
    }
    if (child == 0) _exit(127);
    usleep(useconds_t(millis) * 1000);
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    interrupted += WIFSIGNALED(status) ? 1 : 0;
    if (!Exists(std::to_string(millis))) continue;
    for (const std::string& name : Listing(std::to_string(millis))) EXPECT_NE(name[0], '.') << millis << " ms";
  }
  EXPECT_GT(interrupted, 0);
}

// From a pipe, whole or in pieces, as from a file.
TEST_F(ZefCliTest, Version4ArchivesAreReadFromPipes) {
  Save("a.png", WithAlpha(ManyColours(30, 10, 200, 0), AlphaRamp(30, 10)));
  ASSERT_EQ(Zef({"pack", "a.png", "-o", "v4.zef", "--format", "v4"}).exitCode, 0);
  for (const char* source : {"cat v4.zef", "(head -c 100 v4.zef; sleep .3; tail -c +101 v4.zef)"}) {
    const auto piped = [&](const std::string& command) {
      return RunProgram("/bin/sh", {"-c", source + (" | \"$0\" " + command), ZEF_PATH}, dir_.path());
    };
    EXPECT_NE(piped("info /dev/stdin").out.find("images:      1\n"), std::string::npos) << source;
    EXPECT_EQ(piped("extract -o pictures /dev/stdin").exitCode, 0) << source;
    EXPECT_EQ(piped("embed --format bin /dev/stdin").out, Text(FileBytes("v4.zef"))) << source;
  }
}

TEST_F(ZefCliTest, ReportsAreValidJsonForAnyFileName) {
  const std::string name = "caf\xe9.png";
  Save(name, LevelImage(4, 4, 0));
  const ZefResult pack = Zef({"pack", name, "-o", "x\xff.zef", "--report", "json"});
  ASSERT_EQ(pack.exitCode, 0) << pack.err;
  EXPECT_EQ(json::parse(pack.out)["images"][0]["file"], "caf\xef\xbf\xbd.png");
  const ZefResult info = Zef({"info", "--json", "x\xff.zef"});
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_EQ(json::parse(info.out)["archive"], "x\xef\xbf\xbd.zef");
}

TEST_F(ZefCliTest, NumbersAreDecimalAndJobsAreCappedQuietly) {
  Save("a.png", LevelImage(4, 4, 0));
  Save("b.png", LevelImage(4, 4, 1));
  const ZefResult run = Zef({"pack", "a.png", "b.png", "-o", "x.zef", "--start-index", "010", "--jobs", "1024",
                             "--report", "json"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(json::parse(run.out)["start_index"], 10);
}

// A gradient whose colours fit the palette is left as mapping leaves it.
TEST_F(ZefCliTest, DitheringTouchesOnlyImagesThatAreReduced) {
  Save("g.png", MakeImage(13, 13, [](int x, int y) { return cv::Vec3b(uint8_t(x * 19), uint8_t(y * 19), 90); }));
  const ZefResult plain = Zef({"pack", "g.png", "-o", "plain.zef", "--alpha", "0", "--report", "json"});
  const ZefResult dithered = Zef({"pack", "g.png", "-o", "dithered.zef", "--alpha", "0", "--dither", "fs"});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  ASSERT_EQ(dithered.exitCode, 0) << dithered.err;
  EXPECT_EQ(json::parse(plain.out)["images"][0]["reduced"], false);
  EXPECT_EQ(FileBytes("dithered.zef"), FileBytes("plain.zef"));
}

TEST_F(ZefCliTest, UnreadableInputSaysItCannotBeRead) {
  Save("a.png", LevelImage(4, 4, 0));
  std::filesystem::permissions(dir_ / "a.png", std::filesystem::perms::none);
  std::vector<std::string> arguments = {"pack", "a.png", "-o", "x.zef"};
  std::string program = ZEF_PATH;
  if (geteuid() == 0) {
    // Root reads every file: the run drops to nobody, with a copy of the
    // program in a folder it may write, as the build's may be closed to it.
    if (!std::filesystem::exists("/usr/bin/setpriv")) GTEST_SKIP() << "root reads every file, and no setpriv";
    std::filesystem::permissions(dir_.path(), std::filesystem::perms::all);
    std::filesystem::copy_file(ZEF_PATH, dir_ / "zef");
    arguments.insert(arguments.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", "./zef"});
    program = "/usr/bin/setpriv";
  }
  const ZefResult run = RunProgram(program, arguments, dir_.path());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("a.png: cannot read it"), std::string::npos) << run.err;
}

TEST_F(ZefCliTest, HelpGoesToStandardOutput) {
  const ZefResult help = Zef({"pack", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--mask-suffix"), std::string::npos);
  EXPECT_EQ(help.err, "");
}

TEST_F(ZefCliTest, EndlessInputsAreReadOnlyWhileTheyCanBeArchives) {
  for (const std::string device : {"/dev/zero", "/dev/urandom"}) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"info", device}, {"extract", "-o", "out", device}, {"embed", "-o", "x.c", device}}) {
      SCOPED_TRACE(arguments.front() + " " + device);
      const ZefResult run = RunProgram(ZEF_PATH, arguments, dir_.path(), 20);
      EXPECT_EQ(run.exitCode, 1);
      EXPECT_EQ(run.err, "zef: " + device + ": wrong header\n");
    }
  }
  EXPECT_EQ(Listing(), std::vector<std::string>{});
}

TEST_F(ZefCliTest, DamagedArchiveGivesTheReadersMessage) {
  Save("a.png", LevelImage(9, 9, 0));
  ASSERT_EQ(Zef({"pack", "a.png", "-o", "good.zef"}).exitCode, 0);
  Bytes bytes = FileBytes("good.zef");
  bytes.resize(bytes.size() - 3);
  WriteFile(dir_ / "cut.zef", bytes);
  zef::ZefImgReader reader;
  ASSERT_FALSE(reader.ReadMemory(bytes.data(), bytes.size()));
  const std::string expected = "zef: cut.zef: " + reader.GetError() + "\n";
  EXPECT_EQ(Zef({"info", "cut.zef"}).err, expected);
  EXPECT_EQ(Zef({"extract", "-o", "out", "cut.zef"}).err, expected);
  EXPECT_FALSE(Exists("out/0.png"));
}

// --- info against the reader, in every version and alpha setting ------------

struct InfoCase {
  std::string name;
  int version;
  int alphaValues;
  bool masks;
  int alphaBits;  // as info reports them: an archive without masks says its values carry no alpha
};
// Named in test lists by its name, not by its bytes.
void PrintTo(const InfoCase& c, std::ostream* out) { *out << c.name; }

class InfoTest : public ZefCliTest, public ::testing::WithParamInterface<InfoCase> {};

TEST_P(InfoTest, InfoAndExtractAgreeWithTheReader) {
  const InfoCase& c = GetParam();
  std::mt19937 random(7);
  std::vector<cv::Mat> images, masks;
  for (int n = 0; n < 4; ++n) {
    const int width = 1 + int(random() % 50), height = 1 + int(random() % 9);
    images.push_back(RandomImage(random, width, height, 1 + int(random() % 60)));
    if (c.masks) masks.push_back(RandomMask(random, width, height));
  }
  zef::ZefImgWriter writer;
  writer.SetVersion(c.version);
  if (c.version == 3) writer.setAlpha(c.alphaValues);
  writer.SetStartIndex(c.version == 3 ? 40 : 0);
  ASSERT_TRUE(writer.Write((dir_ / "a.zef").string(), images, masks)) << writer.GetError();

  uint32_t startIndex = 0;
  const std::vector<cv::Mat> read = ReadBack("a.zef", &startIndex);
  const ZefResult info = Zef({"info", "--json", "a.zef"});
  ASSERT_EQ(info.exitCode, 0) << info.err;
  const json summary = json::parse(info.out);
  EXPECT_EQ(summary["version"], c.version);
  EXPECT_EQ(summary["image_count"], read.size());
  EXPECT_EQ(summary["start_index"], startIndex);
  EXPECT_EQ(summary["alpha_bits"], c.alphaBits);
  EXPECT_EQ(summary["file_bytes"], FileBytes("a.zef").size());
  uint64_t dataBytes = 0;
  for (size_t n = 0; n < read.size(); ++n) {
    const json& image = summary["images"][n];
    EXPECT_EQ(image["number"], startIndex + n);
    EXPECT_EQ(image["width"], read[n].cols);
    EXPECT_EQ(image["height"], read[n].rows);
    if (c.version == 3) {
      EXPECT_EQ(image["palette_colors"], DistinctColours(read[n]));
    } else {
      EXPECT_TRUE(image["palette_colors"].is_null());
    }
    dataBytes += image["bytes"].get<uint64_t>();
  }
  EXPECT_LT(dataBytes, FileBytes("a.zef").size());

  const ZefResult text = Zef({"info", "a.zef"});
  EXPECT_NE(text.out.find("version:     " + std::to_string(c.version) + "\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("images:      4\n"), std::string::npos) << text.out;

  ASSERT_EQ(Zef({"extract", "-o", "out", "a.zef"}).exitCode, 0);
  for (size_t n = 0; n < read.size(); ++n) {
    const cv::Mat picture = Load("out/" + std::to_string(startIndex + n) + ".png");
    ASSERT_EQ(picture.channels(), c.alphaBits ? 4 : 3);
    EXPECT_EQ(cv::norm(Colour(picture), read[n], cv::NORM_INF), 0);
    if (c.alphaBits == 0) continue;
    cv::Mat expected = c.masks ? masks[n].clone() : FlatMask(read[n].cols, read[n].rows, 255);
    const int bits = c.alphaBits;
    expected.forEach<uint8_t>([bits](uint8_t& a, const int*) {
      // versions 1 and 2 store the mask's top nibble only from byte 64 up
      const int code = bits == 4 ? (a >= 64 ? 15 : 0) : a >> (8 - bits);
      a = uint8_t(code * 255 / ((1 << bits) - 1));
    });
    EXPECT_EQ(cv::norm(Plane(picture, 3), expected, cv::NORM_INF), 0) << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Archives, InfoTest,
                         ::testing::Values(InfoCase{"V2", 2, 0, false, 0}, InfoCase{"V2Masks", 2, 0, true, 4},
                                           InfoCase{"V3", 3, 0, false, 0},
                                           InfoCase{"V3OneBit", 3, 2, true, 1},
                                           InfoCase{"V3TwoBits", 3, 4, true, 2}),
                         [](const auto& info) { return info.param.name; });

// Version 4, which the described reader does not read: info lists each
// image's palette entries, extract gives the exact colours and 8-bit alpha
// (invisible pixels black), and embed copies the archive.
TEST_F(ZefCliTest, Version4InfoExtractAndEmbed) {
  std::mt19937 random(4);
  std::vector<cv::Mat> images, masks;
  std::vector<int> entries;
  for (int n = 0; n < 3; ++n) {
    const int width = 1 + int(random() % 40), height = 1 + int(random() % 9);
    images.push_back(RandomImage(random, width, height, 1 + int(random() % 40)));
    cv::Mat mask(height, width, CV_8UC1);
    for (size_t p = 0; p < mask.total(); ++p) mask.data[p] = uint8_t(random() % 3 == 0 ? 0 : 1 + random() % 3 * 100);
    masks.push_back(mask);
    std::set<uint32_t> seen;
    for (size_t p = 0; p < mask.total(); ++p) {
      const uint8_t* bgr = images[n].data + p * 3;
      seen.insert(mask.data[p] == 0 ? 0 : uint32_t(bgr[0]) | bgr[1] << 8 | bgr[2] << 16 | uint32_t(mask.data[p]) << 24);
    }
    entries.push_back(int(seen.size()));
  }
  zef::Options options;
  options.version = zef::kVersion4;
  options.startIndex = 9;
  const zef::EncodeResult archive = zef::EncodeMats(images, masks, options);
  ASSERT_TRUE(archive.Ok()) << archive.message;
  WriteFile(dir_ / "v4.zef", archive.bytes);

  const ZefResult info = Zef({"info", "--json", "v4.zef"});
  ASSERT_EQ(info.exitCode, 0) << info.err;
  const json summary = json::parse(info.out);
  EXPECT_EQ(summary["version"], 4);
  EXPECT_EQ(summary["alpha_bits"], 8);
  EXPECT_EQ(summary["start_index"], 9);
  for (size_t n = 0; n < images.size(); ++n) EXPECT_EQ(summary["images"][n]["palette_colors"], entries[n]);
  const ZefResult text = Zef({"info", "v4.zef"});
  EXPECT_NE(text.out.find("version:     4\n"), std::string::npos) << text.out;

  ASSERT_EQ(Zef({"extract", "-o", "out", "v4.zef"}).exitCode, 0);
  for (size_t n = 0; n < images.size(); ++n) {
    const cv::Mat picture = Load("out/" + std::to_string(9 + n) + ".png");
    ASSERT_EQ(picture.channels(), 4);
    EXPECT_EQ(cv::norm(Plane(picture, 3), masks[n], cv::NORM_INF), 0) << n;
    cv::Mat visible = images[n].clone();
    visible.setTo(cv::Scalar::all(0), masks[n] == 0);
    EXPECT_EQ(cv::norm(Colour(picture), visible, cv::NORM_INF), 0) << n;
  }

  const ZefResult embed = Zef({"embed", "--format", "bin", "-o", "v4.bin", "v4.zef"});
  ASSERT_EQ(embed.exitCode, 0) << embed.err;
  EXPECT_EQ(FileBytes("v4.bin"), archive.bytes);
}

// --- the header of image numbers ---------------------------------------------

std::string HeaderDefine(const std::string& name, int position, int number, int width, int height) {
  return "#define " + name + " " + std::to_string(position) + "\n#define " + name + "_NUMBER " +
         std::to_string(number) + "\n#define " + name + "_WIDTH " + std::to_string(width) + "\n#define " +
         name + "_HEIGHT " + std::to_string(height) + "\n";
}

// Every name the header defines, in order.
std::vector<std::string> DefinedNames(const std::string& header) {
  static const std::regex kDefine("#define (\\w+)");
  std::vector<std::string> names;
  for (std::sregex_iterator d(header.begin(), header.end(), kDefine), end; d != end; ++d) names.push_back((*d)[1]);
  return names;
}

TEST_F(ZefCliTest, HeaderGivesPositionNumberAndSizeUnderNamesThatNeverClash) {
  Save("one/arrow-left.png", LevelImage(3, 2, 0));
  Save("one/icon.png", LevelImage(3, 3, 1));
  Save("two/icon.png", LevelImage(5, 3, 2));
  Save("two/1up.png", LevelImage(3, 3, 3));
  const ZefResult run = Zef({"pack", "one", "two", "-o", "my-icons.zef", "--header", "ids.h", "--start-index", "2"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string header = Text(FileBytes("ids.h"));
  EXPECT_NE(header.find("#ifndef IDS_H\n#define IDS_H\n"), std::string::npos) << header;
  // What the device decoder takes is the position; the number beside it.
  EXPECT_NE(header.find(HeaderDefine("MY_ICONS_ARROW_LEFT", 0, 2, 3, 2) + "\n" +
                        HeaderDefine("MY_ICONS_ICON", 1, 3, 3, 3) + "\n" + HeaderDefine("MY_ICONS_1UP", 2, 4, 3, 3) +
                        "\n" + HeaderDefine("MY_ICONS_ICON_2", 3, 5, 5, 3)),
            std::string::npos)
      << header;
  EXPECT_NE(run.err.find("two/icon.png: named MY_ICONS_ICON_2"), std::string::npos) << run.err;

  ASSERT_EQ(Zef({"pack", "two", "-o", "x.zef", "--header", "bare.h", "--prefix", ""}).exitCode, 0);
  EXPECT_NE(Text(FileBytes("bare.h")).find("#define ZEF_1UP 0\n"), std::string::npos);

  // An image's names against another's, against the guard, against what
  // C reserves; and an archive name that would end the comment line.
  Save("glyphs/h.png", LevelImage(2, 2, 0));
  Save("glyphs/h_width.png", LevelImage(2, 2, 1));
  Save("glyphs/h_2.png", LevelImage(2, 2, 2));
  Save("glyphs/int8.png", LevelImage(2, 2, 3));
  Save("glyphs/__x.png", LevelImage(2, 2, 4));
  const std::string archive = "x\n#error injected ??\n*\\\n.zef";
  const ZefResult font = Zef({"pack", "glyphs", "-o", archive, "--header", "font.h", "--prefix", "font"});
  ASSERT_EQ(font.exitCode, 0) << font.err;
  const std::string text = Text(FileBytes("font.h"));
  EXPECT_EQ(text.find("\n#error"), std::string::npos) << text;
  EXPECT_NE(text.find("#ifndef FONT_H_GUARD\n#define FONT_H_GUARD\n"), std::string::npos) << text;
  const std::vector<std::string> names = DefinedNames(text);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size()) << text;
  for (const std::string& wanted : {"FONT___X", "FONT_H", "FONT_H_2", "FONT_H_WIDTH_2", "FONT_INT8"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), wanted), names.end()) << wanted << "\n" << text;
  }
  ASSERT_EQ(Zef({"pack", "glyphs/int8.png", "-o", "i.zef", "--header", "i.h", "--prefix", ""}).exitCode, 0);
  EXPECT_NE(Text(FileBytes("i.h")).find("#define ZEF_INT8 0\n"), std::string::npos);
}

// The value of `#define <name> <value>` in a header; empty when it is not there.
std::string DefineValue(const std::string& header, const std::string& name) {
  const std::string lead = "#define " + name + " ";
  const size_t at = header.find(lead);
  return at == std::string::npos ? "" : header.substr(at + lead.size(), header.find('\n', at) - at - lead.size());
}

std::string IdText(uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08Xu", unsigned(id));
  return text;
}

// The archive id of both headers is the library's for the archive written
// beside them, and moves with what the header's names depend on, not with
// pixels.
TEST_F(ZefCliTest, ArchiveIdOfTheHeadersFollowsTheNamesNotThePixels) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, cv::Mat>> images;
    std::vector<std::string> options;
    bool sameIdAsFirst;
  };
  const cv::Mat a = LevelImage(4, 3, 0), b = LevelImage(5, 2, 1);
  const Case cases[] = {
      {"first", {{"a", a}, {"b", b}}, {}, true},
      {"pixels", {{"a", LevelImage(4, 3, 2)}, {"b", LevelImage(5, 2, 3)}}, {}, true},
      {"renamed", {{"c", a}, {"d", b}}, {}, true},
      {"added", {{"a", a}, {"b", b}, {"c", a}}, {}, false},
      {"removed", {{"a", a}}, {}, false},
      {"resized", {{"a", a}, {"b", LevelImage(5, 3, 1)}}, {}, false},
      {"reordered", {{"a", b}, {"b", a}}, {}, false},
      {"start index", {{"a", a}, {"b", b}}, {"--start-index", "1"}, false},
      {"alpha bits", {{"a", a}, {"b", b}}, {"--alpha", "4"}, false},
      {"version 4", {{"a", a}, {"b", b}}, {"--format", "v4"}, false},
  };
  std::string first;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = std::string("set ") + c.name;
    for (const auto& [stem, picture] : c.images) Save(folder + "/" + stem + ".png", picture);
    std::vector<std::string> pack = {"pack", folder, "-o", "ui.zef", "--header", "ui.h"};
    pack.insert(pack.end(), c.options.begin(), c.options.end());
    const ZefResult packed = Zef(pack);
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    const ZefResult embedded = Zef({"embed", "ui.zef", "-o", "ui.c", "--header", "ui_data.h"});
    ASSERT_EQ(embedded.exitCode, 0) << embedded.err;
    zef::Options options;
    options.keepPixels = false;
    const Bytes archive = FileBytes("ui.zef");
    const zef::DecodeResult decoded = zef::Decode(archive.data(), archive.size(), options);
    ASSERT_TRUE(decoded.Ok()) << decoded.message;
    const std::string id = DefineValue(Text(FileBytes("ui.h")), "UI_ARCHIVE_ID");
    EXPECT_EQ(id, IdText(zef::ArchiveId(decoded.info, decoded.images)));
    EXPECT_EQ(DefineValue(Text(FileBytes("ui_data.h")), "UI_ARCHIVE_ID"), id);
    if (first.empty()) first = id;
    EXPECT_EQ(id == first, c.sameIdAsFirst) << id;
  }
  // An image named as the id is renamed, not the id.
  Save("clash/archive_id.png", a);
  ASSERT_EQ(Zef({"pack", "clash", "-o", "clash.zef", "--header", "clash.h"}).exitCode, 0);
  const std::string header = Text(FileBytes("clash.h"));
  EXPECT_EQ(DefineValue(header, "CLASH_ARCHIVE_ID").substr(0, 2), "0x") << header;
  EXPECT_EQ(DefineValue(header, "CLASH_ARCHIVE_ID_2"), "0") << header;
}

// Names that the standard headers define, bare or made of prefix and stem,
// are changed, so that the header compiles before any of them.
TEST_F(ZefCliTest, HeaderNamesAvoidEveryStandardHeaderName) {
  const std::vector<std::string> names = {"EOF", "FILE", "NAN", "CHAR_BIT", "SIGINT", "NDEBUG", "ERANGE", "I"};
  for (size_t n = 0; n < names.size(); ++n) Save("bare/" + names[n] + ".png", LevelImage(2, 2, int(n)));
  Save("max.png", LevelImage(2, 2, 0));
  ASSERT_EQ(Zef({"pack", "bare", "-o", "bare.zef", "--header", "bare.h", "--prefix", ""}).exitCode, 0);
  ASSERT_EQ(Zef({"pack", "max.png", "-o", "long.zef", "--header", "long.h"}).exitCode, 0);
  const std::vector<std::string> defined = DefinedNames(Text(FileBytes("bare.h")) + Text(FileBytes("long.h")));
  for (const std::string& name : names) {
    EXPECT_NE(std::find(defined.begin(), defined.end(), "ZEF_" + name), defined.end()) << name;
  }
  EXPECT_NE(std::find(defined.begin(), defined.end(), "ZEF_LONG_MAX"), defined.end());
  WriteText("all.c", "#include \"bare.h\"\n#include \"long.h\"\n#include <assert.h>\n#include <complex.h>\n"
                     "#include <errno.h>\n#include <limits.h>\n#include <signal.h>\n#include <stdio.h>\n"
                     "#include <tgmath.h>\nint main(void) { return ZEF_EOF + EOF; }\n");
  const ZefResult compiled = RunProgram(
      "/bin/sh", {"-c", "! command -v cc > /dev/null || cc -std=c99 -Wall -Werror -fsyntax-only all.c"}, dir_.path());
  EXPECT_EQ(compiled.exitCode, 0) << compiled.err;
}

// 2^14 names that all come out as one take the next free number at once,
// where trying from _2 every time took minutes.
TEST_F(ZefCliTest, EqualNamesAreNumberedInLinearTime) {
  Bytes png;
  ASSERT_TRUE(cv::imencode(".png", LevelImage(1, 1, 0), png));
  for (int n = 0; n < 1 << 14; ++n) {
    std::string name = "i";
    for (int bit = 13; bit >= 0; --bit) name += (n >> bit & 1) ? '+' : '-';
    WriteFile(dir_ / (name + ".png"), png);
  }
  const ZefResult run = RunProgram(
      ZEF_PATH, {"pack", ".", "-o", "all.zef", "--header", "all.h", "--prefix", "", "--jobs", "1"}, dir_.path(), 15);
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_NE(Text(FileBytes("all.h")).find("#define I" + std::string(14, '_') + "_16384 16383\n"), std::string::npos);
}

// --- the page of every image ------------------------------------------------

Bytes FromBase64(const std::string& text) {
  static const std::string kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Bytes bytes;
  uint32_t group = 0, bits = 0;
  for (const char c : text.substr(0, text.find('='))) {
    group = group << 6 | uint32_t(kDigits.find(c));
    if ((bits += 6) >= 8) bytes.push_back(uint8_t(group >> (bits -= 8)));
  }
  return bytes;
}

struct PagePicture {
  cv::Mat picture;  // as its PNG decodes
  int width, height;  // as shown, in CSS px
};

// One image's block as a reader finds it: by its id, its pictures by
// class, its figures by the class of their span.
struct PageImage {
  std::string id, title;
  std::map<std::string, PagePicture> pictures;
  std::map<std::string, std::string> figures;
};

// Regular expressions only over short stretches: the library's matcher
// recurses once per character, and a picture's text runs to kilobytes.
std::vector<PageImage> ImageBlocks(const std::string& page) {
  static const std::regex kHead(R"re(^<section class="image[^"]*" id="([^"]*)"><h2>(.*)</h2>$)re");
  static const std::regex kPicture(R"re(^<img class="(\w+)" alt="[^"]*" width="(\d+)" height="(\d+)" src=$)re");
  static const std::regex kFigure(R"re(<span class="([\w-]+)">([^<]*)</span>)re");
  const std::string lead = "\"data:image/png;base64,";
  std::vector<PageImage> blocks;
  for (size_t at = 0; (at = page.find("<section", at)) != std::string::npos;) {
    const size_t pictures = page.find("<div", at), end = page.find("</section>", at);
    std::smatch head;
    const std::string headText = page.substr(at, pictures - at);
    if (pictures > end || !std::regex_match(headText, head, kHead)) break;
    PageImage image{head[1], head[2], {}, {}};
    for (at = page.find("<img", pictures); at < end; at = page.find("<img", at)) {
      const size_t data = page.find(lead, at), close = page.find('"', data + lead.size());
      std::smatch tag;
      const std::string tagText = page.substr(at, data - at);
      if (close > end || !std::regex_match(tagText, tag, kPicture)) break;
      const std::string text = page.substr(data + lead.size(), close - data - lead.size());
      image.pictures[tag[1]] = {cv::imdecode(FromBase64(text), cv::IMREAD_UNCHANGED), std::stoi(tag[2]),
                                std::stoi(tag[3])};
      at = close;
    }
    const size_t figuresAt = std::min(end, page.find("<p class=\"figures\"", pictures));
    const std::string figures = page.substr(figuresAt, end - figuresAt);
    for (std::sregex_iterator f(figures.begin(), figures.end(), kFigure), last; f != last; ++f) {
      image.figures[(*f)[1]] = (*f)[2];
    }
    blocks.push_back(std::move(image));
    at = end;
  }
  return blocks;
}

std::string Figure(const std::string& page, const std::string& id) {
  const size_t at = page.find("id=\"" + id + "\">");
  return at == std::string::npos ? "" : page.substr(at + id.size() + 6, page.find('<', at) - at - id.size() - 6);
}

std::string PsnrText(const json& psnr) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f dB", psnr.is_null() ? 0.0 : psnr.get<double>());
  return psnr.is_null() ? "&infin;" : text;
}

// An alpha ramp whose first columns are fully transparent.
cv::Mat HiddenEdge(int width, int height) {
  cv::Mat alpha = AlphaRamp(width, height);
  alpha.colRange(0, width / 4).setTo(0);
  return alpha;
}

TEST_F(ZefCliTest, PageShowsEveryImageAsTheArchiveHoldsItMostChangedFirst) {
  std::mt19937 random(5);
  Save("set/rich.png", WithAlpha(ManyColours(30, 12, 200, 0), HiddenEdge(30, 12)));
  Save("set/richer.png", WithAlpha(ManyColours(24, 20, 250, 3), AlphaRamp(24, 20)));
  Save("set/plain.png", LevelImage(8, 8, 1));
  Save("set/a&b<c>.png", LevelImage(5, 9, 2));
  Save("set/ship.png", RandomImage(random, 16, 6, 10));
  Save("set/ship_mask.png", HiddenEdge(16, 6));
  const std::vector<std::string> pack = {"pack", "set", "-o", "out.zef", "--start-index", "4", "--report"};
  auto withArguments = [&pack](std::vector<std::string> more) {
    more.insert(more.begin(), pack.begin(), pack.end());
    return more;
  };
  const ZefResult reported = Zef(withArguments({"json"}));
  const Bytes archive = FileBytes("out.zef");
  const ZefResult paged = Zef(withArguments({"html", "--jobs", "1"}));
  ASSERT_EQ(paged.exitCode, 0) << paged.err;
  EXPECT_EQ(paged.err, "");
  EXPECT_EQ(FileBytes("out.zef"), archive);
  EXPECT_EQ(Zef(withArguments({"html", "--jobs", "2"})).out, paged.out);
  const std::string& page = paged.out;
  const json report = json::parse(reported.out), &images = report["images"], &totals = report["totals"];
  ASSERT_EQ(images.size(), 5u);
  EXPECT_EQ(totals["reduced"], 2);  // so that the set tries both parts of the order
  EXPECT_EQ(std::count_if(images.begin(), images.end(), [](const json& i) { return i["psnr"].is_null(); }), 2);

  // The page stands alone: no script, nothing fetched, every picture inline.
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("://"), std::string::npos);
  EXPECT_EQ(page.find("url("), std::string::npos);
  const std::regex inline_("src=\"data:image/png;base64,"), any("src=");
  EXPECT_EQ(std::distance(std::sregex_iterator(page.begin(), page.end(), any), std::sregex_iterator()),
            std::distance(std::sregex_iterator(page.begin(), page.end(), inline_), std::sregex_iterator()));

  EXPECT_EQ(Figure(page, "summary-images"), "5");
  EXPECT_EQ(Figure(page, "summary-archive-bytes"), totals["archive_bytes"].dump());
  EXPECT_EQ(Figure(page, "summary-source-bytes"), totals["source_bytes"].dump());
  EXPECT_EQ(Figure(page, "summary-reduced"), "2");
  EXPECT_EQ(Figure(page, "summary-worst-psnr"), PsnrText(totals["worst_psnr"]));
  EXPECT_EQ(Figure(page, "summary-composite-psnr"), PsnrText(totals["composite_psnr"]));

  // Lowest PSNR first, then the unchanged ones by number.
  std::vector<size_t> order = {0, 1, 2, 3, 4};
  std::stable_sort(order.begin(), order.end(), [&images](size_t a, size_t b) {
    const json &pa = images[a]["psnr"], &pb = images[b]["psnr"];
    return pa.is_null() || pb.is_null() ? pb.is_null() && !pa.is_null() : pa < pb;
  });
  const std::vector<PageImage> blocks = ImageBlocks(page);
  ASSERT_EQ(blocks.size(), images.size());
  ASSERT_TRUE(images[order.back()]["psnr"].is_null());
  ASSERT_EQ(blocks.back().pictures.count("difference"), 1u);
  // What the map shows where nothing changed.
  const cv::Vec4b unchanged = blocks.back().pictures.at("difference").picture.at<cv::Vec4b>(0, 0);

  ASSERT_EQ(Zef({"extract", "-o", "shown", "out.zef"}).exitCode, 0);
  for (size_t n = 0; n < blocks.size(); ++n) {
    const json& image = images[order[n]];
    const PageImage& block = blocks[n];
    const std::string number = image["number"].dump(), file = image["file"];
    SCOPED_TRACE(file);
    EXPECT_EQ(block.id, "image-" + number);
    const std::string escaped = file == "set/a&b<c>.png" ? "set/a&amp;b&lt;c&gt;.png" : file;
    EXPECT_NE(block.title.find(">" + number + "<"), std::string::npos) << block.title;
    EXPECT_NE(block.title.find(">" + escaped + "<"), std::string::npos) << block.title;
    EXPECT_EQ(block.figures.at("colors-before"), image["colors_before"].dump());
    EXPECT_EQ(block.figures.at("colors-after"), image["colors_after"].dump());
    EXPECT_EQ(block.figures.at("reduced"), image["reduced"] ? "reduced" : "not reduced");
    EXPECT_EQ(block.figures.at("psnr"), PsnrText(image["psnr"]));
    EXPECT_EQ(block.figures.at("bytes"), image["bytes"].dump());

    const int width = image["width"], height = image["height"];
    ASSERT_EQ(block.pictures.size(), 3u);
    for (const auto& [kind, shown] : block.pictures) {
      EXPECT_EQ(shown.picture.size(), cv::Size(width, height)) << kind;
      // Magnified by a whole factor that brings the shorter side to 96 px.
      EXPECT_EQ(cv::Size(shown.width, shown.height), cv::Size(width, height) * (shown.width / width)) << kind;
      EXPECT_GE(std::min(shown.width, shown.height), 96) << kind;
    }
    // The source as loaded, with its mask; the result as extract gives it.
    cv::Mat source = Load(file);
    if (!image["mask"].is_null()) source = WithAlpha(source, Load(image["mask"]));
    const cv::Mat shown = Load("shown/" + number + ".png");
    const cv::Mat &pageSource = block.pictures.at("source").picture, &pageResult = block.pictures.at("result").picture;
    ASSERT_EQ(pageSource.type(), source.type());
    EXPECT_EQ(cv::norm(pageSource, source, cv::NORM_INF), 0);
    ASSERT_EQ(pageResult.type(), shown.type());
    EXPECT_EQ(cv::norm(pageResult, shown, cv::NORM_INF), 0);

    // The map hides what the archive hides, shows one colour wherever the
    // colour came through and another wherever it clearly changed.
    const cv::Mat& map = block.pictures.at("difference").picture;
    ASSERT_EQ(map.type(), CV_8UC4);
    EXPECT_EQ(cv::norm(Plane(map, 3), Plane(shown, 3) != 0, cv::NORM_INF), 0);
    const cv::Mat sourceBgr = Colour(source), shownBgr = Colour(shown);
    int wrong = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const double error = cv::norm(cv::Vec3d(sourceBgr.at<cv::Vec3b>(y, x)) - cv::Vec3d(shownBgr.at<cv::Vec3b>(y, x)));
        const bool same = map.at<cv::Vec4b>(y, x) == unchanged;
        wrong += shown.at<cv::Vec4b>(y, x)[3] > 0 && ((error == 0 && !same) || (error >= 4 && same)) ? 1 : 0;
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

// A grey target's page shows the luma it was measured against beside the
// levels the archive holds.
TEST_F(ZefCliTest, PageOfAGreyTargetShowsGreyPictures) {
  Save("icon.png", SoftIcon(24, 1));
  const ZefResult paged =
      Zef({"pack", "icon.png", "-o", "g.zef", "--target", "gray:2", "--dither", "ordered", "--report", "html"});
  ASSERT_EQ(paged.exitCode, 0) << paged.err;
  const std::vector<PageImage> blocks = ImageBlocks(paged.out);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(Figure(paged.out, "summary-target"), "gray:2");
  const std::vector<cv::Mat> shown = DecodedBgra(dir_ / "g.zef");
  ASSERT_EQ(shown.size(), 1u);
  const cv::Mat &source = blocks[0].pictures.at("source").picture, &result = blocks[0].pictures.at("result").picture;
  ASSERT_EQ(source.type(), CV_8UC4);
  ASSERT_EQ(result.type(), CV_8UC4);
  EXPECT_EQ(cv::norm(source, Luma(Load("icon.png")), cv::NORM_INF), 0);
  EXPECT_EQ(cv::norm(result, shown[0], cv::NORM_INF), 0);
}

// The page is UTF-8: bytes that are not, and control characters, become
// U+FFFD, as in the JSON report.
TEST_F(ZefCliTest, PageEscapesFileNamesThatAreNotUtf8) {
  const std::string name = "e\x1b[31m\xff\xc3\xa9\xc2\x9b.png";
  Save(name, LevelImage(4, 4, 0));
  const ZefResult run = Zef({"pack", name, "-o", "x.zef", "--report", "html"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(run.out.find('\xff'), std::string::npos);
  EXPECT_NE(run.out.find(">e\xef\xbf\xbd[31m\xef\xbf\xbd\xc3\xa9\xef\xbf\xbd.png<"), std::string::npos);
}

// An entry FF FF FF 00 decodes as stored, and docs/format.md says so.
TEST_F(ZefCliTest, Version4AlphaZeroKeepsItsStoredColourAsTheFormatSays) {
  zef::Options options;
  options.version = zef::kVersion4;
  zef::EncodeResult archive = zef::EncodeIndexed({{2, 1, {{10, 20, 30, 255}, {0, 0, 0, 0}}, {0, 1}}}, options);
  const Bytes entries = {10, 20, 30, 255, 0, 0, 0, 0};
  const auto at = std::search(archive.bytes.begin(), archive.bytes.end(), entries.begin(), entries.end());
  ASSERT_NE(at, archive.bytes.end());
  std::fill(at + 4, at + 7, uint8_t(0xFF));
  WriteFile(dir_ / "white.zef", archive.bytes);
  ASSERT_EQ(Zef({"extract", "-o", "out", "white.zef"}).exitCode, 0);
  EXPECT_EQ(Load("out/0.png").at<cv::Vec4b>(0, 1), cv::Vec4b(255, 255, 255, 0));
  std::ifstream format(ZEF_FORMAT_DOC);
  const std::string doc((std::istreambuf_iterator<char>(format)), std::istreambuf_iterator<char>());
  const size_t decoding = doc.find("### Decoding");
  const std::string section = doc.substr(decoding, doc.find("\n### ", decoding + 1) - decoding);
  EXPECT_EQ(section.find("decode black"), std::string::npos) << section;
  EXPECT_NE(section.find("`FF FF FF 00` decodes as blue,\ngreen and red 255 with alpha 0"), std::string::npos);
}

}  // namespace
}  // namespace zeftest
