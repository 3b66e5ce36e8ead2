// The bundled examples convert as the README and the console guide show,
// with and without masks, and the library guide shows the library
// example's files as they are.
#include <fstream>
#include <iterator>

#include "e2e/ToolRun.h"

namespace zeftest {
namespace {

class ExampleTest : public ToolTest {
 protected:
  void SetUp() override {
    for (const auto& entry : std::filesystem::directory_iterator(ZEF_EXAMPLES_DIR)) {
      const std::string extension = entry.path().extension().string();
      if (extension == ".png" || extension == ".txt") {
        std::filesystem::copy_file(entry.path(), dir_ / entry.path().filename());
      }
    }
  }
  // The file names that the script lists after its "startimages" line.
  std::vector<std::string> ListedFiles(const std::string& script) {
    std::ifstream in(dir_ / script);
    std::vector<std::string> names;
    bool listBegun = false;
    for (std::string line; std::getline(in, line);) {
      if (listBegun) names.push_back(line);
      listBegun = listBegun || line == "startimages";
    }
    return names;
  }
  uint64_t SizeOfAll(const std::vector<std::string>& names) {
    uint64_t bytes = 0;
    for (const std::string& name : names) bytes += SizeOf(name);
    return bytes;
  }
};

TEST_F(ExampleTest, SpritesWithMasksAndTheirDisplay) {
  const std::vector<std::string> files = ListedFiles("sprites.txt");
  ASSERT_EQ(files.size(), 12u);
  std::string images, masks;
  for (size_t i = 0; i < files.size(); i += 2) {
    images += "Loading " + files[i] + "\n";
    masks += "Loading " + files[i + 1] + "\n" + kMaskConversion;
  }
  const ToolResult run = Run({"-showConvertedImages", "sprites.txt"});
  ASSERT_TRUE(std::filesystem::exists(dir_ / "sprites.zef")) << run.output;
  EXPECT_EQ(run.output, kGreeting + "Loading image files...\n" + images + "Loading mask files...\n" +
                            masks + "wrote Bitmap(s) to sprites.zef\n" +
                            ExpectedSizeReport(SizeOfAll(files), SizeOf("sprites.zef")) +
                            "read Bitmap(s) from sprites.zef\n" + kNoWindows + kPrompt);
}

TEST_F(ExampleTest, SpritesWithoutMasks) {
  const std::vector<std::string> files = ListedFiles("sprites_nomask.txt");
  ASSERT_EQ(files.size(), 6u);
  std::string images;
  for (const std::string& name : files) images += "Loading " + name + "\n";
  const ToolResult run = Run({"sprites_nomask.txt"});
  EXPECT_EQ(run.output, kGreeting + "Loading image files...\n" + images +
                            "wrote Bitmap(s) to sprites_nomask.zef\n" +
                            ExpectedSizeReport(SizeOfAll(files), SizeOf("sprites_nomask.zef")) +
                            kPrompt);
}

// The README and the console guide show what the example scripts print.
// Each block is the one fenced block after its marker line, compared with a
// real run, so that the documents cannot drift from the tool.
struct ReadmeExample {
  const char* folder;    // below examples/
  const char* script;
  const char* document;  // below the top of the repository
  const char* marker;
};

void PrintTo(const ReadmeExample& example, std::ostream* out) { *out << example.script; }

// The fenced block after the line `marker` of `document`; empty if there is none.
std::string BlockAfter(const std::string& document, const std::string& marker) {
  std::ifstream in(std::filesystem::path(ZEF_EXAMPLES_DIR).parent_path() / document);
  std::string block;
  bool markerSeen = false, inBlock = false;
  for (std::string line; std::getline(in, line);) {
    if (inBlock && line == "```") return block;
    if (inBlock) block += line + "\n";
    inBlock = inBlock || (markerSeen && line.starts_with("```"));
    markerSeen = markerSeen || line == marker;
  }
  return {};
}

class ReadmeExampleTest : public ToolTest, public ::testing::WithParamInterface<ReadmeExample> {};

TEST_P(ReadmeExampleTest, PrintsWhatTheReadmeShows) {
  const ReadmeExample example = GetParam();
  const std::string shown = BlockAfter(example.document, example.marker);
  ASSERT_FALSE(shown.empty()) << example.document << " has no output block after " << example.marker;
  const std::filesystem::path folder = std::filesystem::path(ZEF_EXAMPLES_DIR) / example.folder;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.is_regular_file()) std::filesystem::copy_file(entry.path(), dir_ / entry.path().filename());
  }
  EXPECT_EQ(Run({example.script}).output, shown);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ReadmeExampleTest,
    ::testing::Values(ReadmeExample{".", "sprites.txt", "README.md", "<!-- output of examples/sprites.txt -->"},
                      ReadmeExample{"screen", "screen.txt", "docs/console.md", "<!-- output of examples/screen/screen.txt -->"}),
    [](const ::testing::TestParamInfo<ReadmeExample>& info) {
      return std::string(info.param.folder) == "." ? std::string("Sprites") : std::string("Screen");
    });

// The library guide shows the library example's files whole, and the
// README the example script, each in the block after a line naming it; the
// install test builds and runs the library's files.
TEST(ReadmeSourceTest, ShowsTheExampleFiles) {
  for (const auto& [document, name] : {std::pair{"docs/library.md", "library/main.cpp"},
                                       std::pair{"docs/library.md", "library/CMakeLists.txt"},
                                       std::pair{"README.md", "sprites.txt"}}) {
    std::ifstream in(std::filesystem::path(ZEF_EXAMPLES_DIR) / name);
    ASSERT_TRUE(in) << name;
    const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(BlockAfter(document, std::string("<!-- examples/") + name + " -->"), file) << name;
  }
}

}  // namespace
}  // namespace zeftest
