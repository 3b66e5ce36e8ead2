// Display mode without a window system: a good archive is read, a damaged
// or missing one is reported with the reader's message.
#include "e2e/ToolRun.h"
#include "writer/ZefImgWriter.h"

namespace zeftest {
namespace {

class DisplayTest : public ToolTest {
 protected:
  void SetUp() override {
    zef::ZefImgWriter writer;
    writer.SetVersion(zef::kVersion3);
    writer.SetStartIndex(7);
    ASSERT_TRUE(writer.Write((dir_ / "good.zef").string(),
                             {FlatImage(4, 3, {9, 9, 9}), ImageWithColours(40)}, {}))
        << writer.GetError();
  }
  void WriteDamaged(const std::string& name, size_t at, uint8_t value) {
    Bytes bytes = ReadFile(dir_ / "good.zef");
    bytes.at(at) = value;
    WriteFile(dir_ / name, bytes);
  }
};

TEST_F(DisplayTest, GoodArchiveIsReadAndItsWindowsAreSkipped) {
  const ToolResult run = Run({"-showImages", "good.zef"});
  EXPECT_EQ(run.output, kGreeting + "read Bitmap(s) from good.zef\n" + kNoWindows + kPrompt);
  EXPECT_EQ(run.exitCode, 0);
}

TEST_F(DisplayTest, DisplayOptionInCapitals) {
  const ToolResult run = Run({"-SHOWIMAGES", "good.zef"});
  EXPECT_EQ(run.output, kGreeting + "read Bitmap(s) from good.zef\n" + kNoWindows + kPrompt);
}

TEST_F(DisplayTest, DamagedSignature) {
  WriteDamaged("bad.zef", 0, 0x00);
  const ToolResult run = Run({"-showImages", "bad.zef"});
  EXPECT_EQ(run.output, kGreeting + "error while reading: wrong header\n" + kPrompt + kExiting);
}

TEST_F(DisplayTest, TruncatedImageData) {
  Bytes bytes = ReadFile(dir_ / "good.zef");
  bytes.resize(bytes.size() - 5);
  WriteFile(dir_ / "short.zef", bytes);
  const ToolResult run = Run({"-showImages", "short.zef"});
  EXPECT_EQ(run.output, kGreeting + "error while reading: wrong image data\n" + kPrompt + kExiting);
}

TEST_F(DisplayTest, MissingArchive) {
  const ToolResult run = Run({"-showImages", "none.zef"});
  EXPECT_EQ(run.output,
            kGreeting + "error while reading: could not open file none.zef\n" + kPrompt + kExiting);
}

}  // namespace
}  // namespace zeftest
