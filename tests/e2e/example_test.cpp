// The bundled example converts as the README shows, with and without masks.
#include <fstream>

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

}  // namespace
}  // namespace zeftest
