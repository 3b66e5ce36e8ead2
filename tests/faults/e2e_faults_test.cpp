// Faults of the system around the tool: a full disk, missing or unwritable
// outputs, scripts, images, masks and archives that are not what they
// claim. Each run must print its message, end by itself with exit code 0,
// and leave the folder as it was, save for the output it was asked for.
#include <opencv2/imgcodecs.hpp>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e/ToolRun.h"

namespace zeftest {
namespace {

namespace fs = std::filesystem;

const std::string kCouldNotOpenDestination =
    "error while writing: ZefImgWriter: Write: could not open destination file\n";
const std::string kCouldNotWriteDestination =
    "error while writing: ZefImgWriter: Write: could not write destination file\n";

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const cv::Mat image = MakeImage(6, 4, [](int x, int y) {
      return cv::Vec3b(uint8_t(x * 40), uint8_t(y * 60), 200);
    });
    ASSERT_TRUE(cv::imwrite(Path("a.png"), image));
    ASSERT_TRUE(cv::imwrite(Path("a_mask.png"), FlatMask(6, 4, 255)));
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // A script that converts the given image (and mask) into `output`.
  void WriteScript(const std::string& output, const std::string& image = "a.png",
                   const std::string& mask = "a_mask.png") {
    std::string script = "startindex 0\noutputfilename " + output + "\n";
    script += mask.empty() ? "mask false\n" : "mask true\nalphavalues 4\n";
    script += "startimages\n" + image + "\n";
    if (!mask.empty()) script += mask + "\n";
    WriteText(dir_ / "script.txt", script);
  }

  // Runs the tool and checks what every fault run must show: its message,
  // a normal end with code 0, and an unchanged folder.
  ToolResult RunExpecting(const std::vector<std::string>& arguments, const std::string& message) {
    const FolderState before = SnapshotFolder(dir_.path());
    ToolResult run = RunTool(dir_.path(), arguments);
    EXPECT_TRUE(run.exited) << "the tool crashed or hung; it printed:\n" << run.output;
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
    EXPECT_TRUE(run.output.ends_with(kExiting)) << run.output;
    EXPECT_EQ(SnapshotFolder(dir_.path()), before) << "files were created or changed";
    return run;
  }

  TempDir dir_;
};

TEST_F(FaultTest, OutputOnFullDiskReportsTheFailedWrite) {
  fs::create_symlink("/dev/full", dir_ / "full.zef");
  WriteScript("full.zef");
  RunExpecting({"script.txt"}, kCouldNotWriteDestination);
}

TEST_F(FaultTest, OutputInMissingFolderIsReported) {
  WriteScript("missing/out.zef");
  RunExpecting({"script.txt"}, kCouldNotOpenDestination);
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

TEST_F(FaultTest, OutputNameThatIsAFolderIsReported) {
  fs::create_directory(dir_ / "out.zef");
  WriteScript("out.zef");
  RunExpecting({"script.txt"}, kCouldNotOpenDestination);
  EXPECT_TRUE(fs::is_empty(dir_ / "out.zef"));
}

// Root passes every permission test, so the file is made immutable; where
// the file system refuses that, a read-only system file stands in.
TEST_F(FaultTest, ReadOnlyExistingOutputIsLeftAlone) {
  WriteText(dir_ / "locked.zef", "earlier archive");
  const std::string lock = "chattr +i " + Path("locked.zef") + " 2>/dev/null";
  const bool immutable = std::system(lock.c_str()) == 0;
  if (!immutable) {
    fs::remove(dir_ / "locked.zef");
    if (!fs::exists("/sys/kernel/notes")) GTEST_SKIP() << "no way to make a file read-only for root";
    fs::create_symlink("/sys/kernel/notes", dir_ / "locked.zef");
  }
  WriteScript("locked.zef");
  RunExpecting({"script.txt"}, kCouldNotOpenDestination);
  if (immutable) {
    std::system(("chattr -i " + Path("locked.zef")).c_str());
    EXPECT_EQ(ReadFile(dir_ / "locked.zef"), Bytes({'e', 'a', 'r', 'l', 'i', 'e', 'r', ' ', 'a', 'r',
                                                    'c', 'h', 'i', 'v', 'e'}));
  }
}

TEST_F(FaultTest, ScriptThatIsAFolderCannotBeOpened) {
  fs::create_directory(dir_ / "scripts");
  RunExpecting({"scripts"}, "could not open file scripts\n");
}

TEST_F(FaultTest, BinaryGarbageScriptIsRefused) {
  std::mt19937 random(7);
  Bytes garbage(4096);
  for (uint8_t& byte : garbage) byte = uint8_t(random());
  WriteFile(dir_ / "script.txt", garbage);
  RunExpecting({"script.txt"}, "something wrong in script file...\n");
}

TEST_F(FaultTest, EmptyImageFileCannotBeLoaded) {
  WriteText(dir_ / "empty.png", "");
  WriteScript("out.zef", "empty.png");
  RunExpecting({"script.txt"}, "Could not load image empty.png...\n");
}

TEST_F(FaultTest, TruncatedImageFileCannotBeLoaded) {
  const Bytes whole = ReadFile(dir_ / "a.png");
  WriteFile(dir_ / "cut.png", Bytes(whole.begin(), whole.begin() + whole.size() / 2));
  WriteScript("out.zef", "cut.png");
  RunExpecting({"script.txt"}, "Could not load image cut.png...\n");
}

TEST_F(FaultTest, ImageThatIsAFolderCannotBeLoaded) {
  fs::create_directory(dir_ / "pictures.png");
  WriteScript("out.zef", "pictures.png");
  RunExpecting({"script.txt"}, "Could not load image pictures.png...\n");
}

TEST_F(FaultTest, TextFileAsImageCannotBeLoaded) {
  WriteText(dir_ / "notes.png", "these are notes, not pixels\n");
  WriteScript("out.zef", "notes.png");
  RunExpecting({"script.txt"}, "Could not load image notes.png...\n");
}

TEST_F(FaultTest, MaskThatIsNotAnImageCannotBeLoaded) {
  WriteText(dir_ / "mask.png", "no mask here\n");
  WriteScript("out.zef", "a.png", "mask.png");
  RunExpecting({"script.txt"}, "Could not load mask image mask.png...\n");
}

TEST_F(FaultTest, ArchiveThatIsAFolderIsReported) {
  fs::create_directory(dir_ / "shelf.zef");
  RunExpecting({"-showImages", "shelf.zef"}, "error while reading: ");
}

TEST_F(FaultTest, EmptyArchiveIsReported) {
  WriteText(dir_ / "empty.zef", "");
  RunExpecting({"-showImages", "empty.zef"}, "error while reading: wrong header\n");
}

// The faults above must not hide a working tool: the same folder converts.
TEST_F(FaultTest, SoundScriptInTheSameSetUpConverts) {
  WriteScript("good.zef");
  const ToolResult run = RunTool(dir_.path(), {"script.txt"});
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.output.find("wrote Bitmap(s) to good.zef\n"), std::string::npos) << run.output;
  EXPECT_TRUE(fs::is_regular_file(dir_ / "good.zef"));
}

}  // namespace
}  // namespace zeftest
