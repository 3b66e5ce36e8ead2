// zef embed end to end: the C array holds the archive's bytes under the
// name, alignment and section asked for, the header declares what the
// source defines, the binary format copies the archive, and refusals
// (misuse, damaged archives) leave no file behind.
#include <regex>

#include "archive/ZefImgReader.h"
#include "ZefRun.h"

namespace zeftest {
namespace {

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The bytes of the source's initializer, read back from its hex literals.
Bytes InitializerBytes(const std::string& source) {
  const size_t open = source.find("] = {\n");
  const size_t close = source.find("\n};", open);
  Bytes bytes;
  if (open == std::string::npos || close == std::string::npos) return bytes;
  const std::string body = source.substr(open, close - open);
  const std::regex hex("0x([0-9a-f]{2}),");
  for (auto it = std::sregex_iterator(body.begin(), body.end(), hex); it != std::sregex_iterator();
       ++it) {
    bytes.push_back(uint8_t(std::stoi((*it)[1].str(), nullptr, 16)));
  }
  return bytes;
}

size_t LongestLine(const std::string& text) {
  size_t longest = 0, start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    longest = std::max(longest, end - start);
    start = end + 1;
  }
  return longest;
}

class ZefEmbedTest : public ZefTest {
 protected:
  // An archive of a few kilobytes, whose C array runs over many lines.
  void PackArchive(const std::string& name) {
    std::mt19937 random(3);
    Save("art/a.png", RandomImage(random, 40, 30, 48));
    Save("art/b.png", RandomImage(random, 17, 9, 12));
    Save("art/b_mask.png", RandomMask(random, 17, 9));
    const ZefResult pack = Zef({"pack", "art", "-o", name});
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    std::filesystem::remove_all(dir_ / "art");
  }
};

struct EmbedCase {
  std::string name;
  std::string archive;
  std::vector<std::string> options;
  std::string symbol;     // expected array name
  std::string alignment;  // expected in ZEF_ALIGN(...)
  std::string section;    // expected in ZEF_SECTION(...); empty: none
};
// Named in test lists by its name, not by its bytes.
void PrintTo(const EmbedCase& c, std::ostream* out) { *out << c.name; }

class EmbedOptionTest : public ZefEmbedTest, public ::testing::WithParamInterface<EmbedCase> {};

TEST_P(EmbedOptionTest, SourceHoldsTheArchiveAndTheHeaderDeclaresIt) {
  const EmbedCase& c = GetParam();
  PackArchive(c.archive);
  const Bytes archive = FileBytes(c.archive);
  std::vector<std::string> arguments{"embed", "-o", "out/data.c", "--header", "out/data-1.h"};
  arguments.insert(arguments.end(), c.options.begin(), c.options.end());
  arguments.push_back(c.archive);
  std::filesystem::create_directories(dir_ / "out");
  const ZefResult run = Zef(arguments);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");

  const std::string source = Text(FileBytes("out/data.c"));
  const std::string size = std::to_string(archive.size());
  EXPECT_EQ(InitializerBytes(source), archive);
  EXPECT_NE(source.find("\nconst uint8_t " + c.symbol + "[" + size + "] = {\n"), std::string::npos)
      << source.substr(0, 800);
  EXPECT_NE(source.find("\nconst size_t " + c.symbol + "_size = " + size + ";\n"), std::string::npos);
  EXPECT_NE(source.find("\nZEF_ALIGN(" + c.alignment + ")"), std::string::npos);
  EXPECT_EQ(source.find("ZEF_SECTION(\"") != std::string::npos, !c.section.empty());
  if (!c.section.empty()) {
    EXPECT_NE(source.find(" ZEF_SECTION(\"" + c.section + "\")\nconst uint8_t"), std::string::npos);
  }
  // Well inside what every C99 compiler must take in one line.
  EXPECT_LE(LongestLine(source), 100u);

  const std::string header = Text(FileBytes("out/data-1.h"));
  const std::string sizeMacro = [&] {
    std::string macro = c.symbol;
    for (char& ch : macro) ch = char(std::toupper(static_cast<unsigned char>(ch)));
    return macro + "_SIZE";
  }();
  EXPECT_NE(header.find("#ifndef DATA_1_H\n#define DATA_1_H\n"), std::string::npos) << header;
  EXPECT_NE(header.find("#define " + sizeMacro + " " + size + "\n"), std::string::npos) << header;
  EXPECT_NE(header.find("extern const uint8_t " + c.symbol + "[" + sizeMacro + "];\n"),
            std::string::npos)
      << header;
  EXPECT_NE(header.find("extern const size_t " + c.symbol + "_size;\n"), std::string::npos);
  EXPECT_NE(header.find("#ifdef __cplusplus\nextern \"C\" {"), std::string::npos);

  // Without -o the same source goes to standard output.
  arguments.erase(arguments.begin() + 1, arguments.begin() + 5);
  const ZefResult toStdout = Zef(arguments);
  EXPECT_EQ(toStdout.exitCode, 0) << toStdout.err;
  EXPECT_EQ(toStdout.out, source);
}

const EmbedCase kEmbedCases[] = {
    {"Defaults", "icons.zef", {}, "icons", "4", ""},
    {"StemMadeAnIdentifier", "my-icons.v2.zef", {}, "my_icons_v2", "4", ""},
    {"LeadingDigit", "1up.zef", {}, "_1up", "4", ""},
    {"Keyword", "int.zef", {}, "int_", "4", ""},
    {"CxxKeyword", "class.zef", {}, "class_", "4", ""},
    {"NonAsciiStem", "\xc3\xa9t\xc3\xa9.zef", {}, "zef__t__", "4", ""},
    {"ReservedStem", "_Icons.zef", {}, "zef_Icons", "4", ""},
    {"MainStem", "main.zef", {}, "main_", "4", ""},
    {"LibraryNameStem", "uint8_t.zef", {}, "uint8_t_", "4", ""},
    {"LimitNameStem", "SIZE_MAX.zef", {}, "SIZE_MAX_", "4", ""},
    {"Symbol", "icons.zef", {"--symbol", "ui_Assets2"}, "ui_Assets2", "4", ""},
    {"AlignOne", "icons.zef", {"--align", "1"}, "icons", "1", ""},
    {"AlignLarge", "icons.zef", {"--align", "65536"}, "icons", "65536", ""},
    {"Section", "icons.zef", {"--section", ".rodata.assets", "--align", "32"}, "icons", "32",
     ".rodata.assets"},
    {"SectionWithDollar", "icons.zef", {"--section", ".data$zef_1", "--format", "c"}, "icons", "4",
     ".data$zef_1"},
};

INSTANTIATE_TEST_SUITE_P(Options, EmbedOptionTest, ::testing::ValuesIn(kEmbedCases),
                         [](const auto& info) { return info.param.name; });

TEST_F(ZefEmbedTest, BinaryFormatCopiesTheArchiveAndDeclaresOnlyItsSize) {
  PackArchive("sprites.zef");
  const Bytes archive = FileBytes("sprites.zef");
  const ZefResult run = Zef({"embed", "--format", "bin", "-o", "sprites.bin", "--header", "sprites.h",
                             "sprites.zef"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(FileBytes("sprites.bin"), archive);
  const std::string header = Text(FileBytes("sprites.h"));
  EXPECT_NE(header.find("#define SPRITES_SIZE " + std::to_string(archive.size()) + "\n"),
            std::string::npos)
      << header;
  EXPECT_NE(header.find("extern const uint8_t sprites[SPRITES_SIZE];\n"), std::string::npos);
  // Nothing in the binary defines a size variable, so none is declared.
  EXPECT_EQ(header.find("sprites_size"), std::string::npos) << header;

  const ZefResult toStdout = Zef({"embed", "--format", "bin", "sprites.zef"});
  EXPECT_EQ(toStdout.exitCode, 0);
  EXPECT_EQ(toStdout.out, Text(archive));
}

TEST_F(ZefEmbedTest, DamagedArchiveGivesTheReadersMessageAndKeepsOldOutputs) {
  PackArchive("good.zef");
  Bytes bytes = FileBytes("good.zef");
  bytes.resize(bytes.size() - 5);
  WriteFile(dir_ / "cut.zef", bytes);
  WriteText("old.c", "kept");
  zef::ZefImgReader reader;
  ASSERT_FALSE(reader.ReadMemory(bytes.data(), bytes.size()));
  const ZefResult run = Zef({"embed", "-o", "old.c", "--header", "new.h", "cut.zef"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "zef: cut.zef: " + reader.GetError() + "\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(Text(FileBytes("old.c")), "kept");
  EXPECT_EQ(Listing(), (std::vector<std::string>{"cut.zef", "good.zef", "old.c"}));
}

TEST_F(ZefEmbedTest, UnwritableHeaderLeavesNoSource) {
  PackArchive("good.zef");
  const ZefResult run = Zef({"embed", "-o", "good.c", "--header", "no/such/good.h", "good.zef"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("no/such/good.h"), std::string::npos) << run.err;
  EXPECT_EQ(Listing(), (std::vector<std::string>{"good.zef"}));
}

// --lvgl: a descriptor per image, named from pack's header or by position,
// declared in the header; refused where it cannot be.
TEST_F(ZefEmbedTest, LvglDescriptorsTakeTheNamesOfThePackHeader) {
  std::mt19937 random(5);
  Save("art/home.png", RandomImage(random, 20, 12, 8));
  Save("art/wifi.png", RandomImage(random, 9, 30, 8));
  ASSERT_EQ(Zef({"pack", "art", "-o", "ui.zef", "--header", "ui_images.h"}).exitCode, 0);
  const ZefResult run = Zef({"embed", "--lvgl", "--names", "ui_images.h", "-o", "ui.c", "--header", "ui.h", "ui.zef"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string source = Text(FileBytes("ui.c"));
  EXPECT_NE(source.find("#include \"lv_zef.h\"\n"), std::string::npos) << source;
  EXPECT_NE(source.find("static lv_zef_archive_t ui_lv_zef = LV_ZEF_ARCHIVE_MEMORY(ui, "), std::string::npos);
  EXPECT_NE(source.find("{LV_ZEF_SOURCE_MAGIC, &ui_lv_zef, 1},"), std::string::npos) << source;
  EXPECT_NE(source.find("const lv_image_dsc_t ui_home = LV_ZEF_IMAGE_DSC(&ui_lv_zef_sources[0], 20, 12);"),
            std::string::npos)
      << source;
  EXPECT_NE(source.find("const lv_image_dsc_t ui_wifi = LV_ZEF_IMAGE_DSC(&ui_lv_zef_sources[1], 9, 30);"),
            std::string::npos);
  const std::string header = Text(FileBytes("ui.h"));
  EXPECT_NE(header.find("extern const lv_image_dsc_t ui_home;\nextern const lv_image_dsc_t ui_wifi;\n"),
            std::string::npos)
      << header;

  ASSERT_EQ(Zef({"embed", "--lvgl", "-o", "plain.c", "ui.zef"}).exitCode, 0);
  EXPECT_NE(Text(FileBytes("plain.c")).find("const lv_image_dsc_t ui_1 = LV_ZEF_IMAGE_DSC(&ui_lv_zef_sources[1]"),
            std::string::npos);
}

TEST_F(ZefEmbedTest, LvglRefusesNamesOfAnotherArchiveAndLeavesNoOutput) {
  std::mt19937 random(6);
  Save("art/home.png", RandomImage(random, 20, 12, 8));
  Save("other/home.png", RandomImage(random, 21, 12, 8));
  ASSERT_EQ(Zef({"pack", "art", "-o", "ui.zef"}).exitCode, 0);
  ASSERT_EQ(Zef({"pack", "other", "-o", "other.zef", "--header", "other.h", "--prefix", "ui"}).exitCode, 0);
  std::filesystem::remove_all(dir_ / "art");
  std::filesystem::remove_all(dir_ / "other");
  const ZefResult wrong = Zef({"embed", "--lvgl", "--names", "other.h", "-o", "ui.c", "ui.zef"});
  EXPECT_EQ(wrong.exitCode, 1);
  EXPECT_NE(wrong.err.find("UI_HOME is not an image of this archive"), std::string::npos) << wrong.err;
  const ZefResult missing = Zef({"embed", "--lvgl", "--names", "none.h", "-o", "ui.c", "ui.zef"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "zef: none.h: cannot read it\n");
  EXPECT_EQ(Zef({"embed", "--lvgl", "--format", "bin", "-o", "ui.bin", "ui.zef"}).exitCode, 2);
  EXPECT_EQ(Zef({"embed", "--names", "other.h", "-o", "ui.c", "ui.zef"}).exitCode, 2);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"other.h", "other.zef", "ui.zef"}));
}

}  // namespace
}  // namespace zeftest
