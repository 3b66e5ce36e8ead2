// Inputs that are not what a user would hand the tool: devices and endless
// pipes as archives or scripts, lines without end, NUL bytes in names, pipes
// and devices as images, and a display that does not answer. Every run must
// end by itself within a short guard, in little memory, with its message,
// and leave every file but its own archive as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <map>
#include <thread>

#include "CoreArchives.h"
#include "archive/FileBytes.h"
#include "e2e/ToolRun.h"
#include "writer/ZefImgWriter.h"

namespace zeftest {
namespace {

namespace fs = std::filesystem;

constexpr long kPeakLimitKilobytes = 150 * 1024;
const std::string kTooLongLine = " of the script is longer than 65536 bytes...\n";
const std::string kScriptFault = "something wrong in script file...\n";

// A run of the tool: capped and guarded, so that a regression ends as a
// failed test instead of taking the machine's memory or the suite's time.
RunSetting Hostile(std::vector<std::string> environment = {}) {
  RunSetting setting;
  setting.addressSpaceBytes = uint64_t{1} << 30;
  setting.guardMillis = 10000;
  setting.environment = std::move(environment);
  return setting;
}

// Feeds a FIFO from a thread: `bytes` first, then, when `endless`, zeros
// until the reader goes away. Gives up if no reader comes.
class FifoFeeder {
 public:
  FifoFeeder(fs::path fifo, Bytes bytes, bool endless)
      : thread_([this, fifo, bytes, endless] { Feed(fifo, bytes, endless); }) {}
  ~FifoFeeder() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Feed(const fs::path& fifo, const Bytes& bytes, bool endless) {
    int fd = -1;
    // Without a reader a non-blocking open fails; a blocking one would hang.
    for (int tries = 0; fd < 0 && tries < 1000 && !stop_; ++tries) {
      fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) usleep(10000);
    }
    if (fd < 0) return;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    bool open = WriteAll(fd, bytes);
    const Bytes zeros(1 << 16, 0);
    while (endless && open && !stop_) open = WriteAll(fd, zeros);
    close(fd);
  }
  static bool WriteAll(int fd, const Bytes& bytes) {
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
      if (wrote <= 0) return false;
      done += size_t(wrote);
    }
    return true;
  }

  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Every entry with its kind and time and, for a regular file, its bytes.
// Pipes are listed but never opened.
std::map<std::string, std::string> FolderContents(const fs::path& folder) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    struct stat status {};
    if (lstat(entry.path().c_str(), &status) != 0) continue;
    std::string description = std::to_string(status.st_mode) + " ";
    // What passes through a pipe changes its times, not the pipe.
    if (!S_ISFIFO(status.st_mode)) {
      description += std::to_string(status.st_mtim.tv_sec) + "." +
                     std::to_string(status.st_mtim.tv_nsec) + " ";
    }
    if (S_ISREG(status.st_mode)) {
      const Bytes bytes = ReadFile(entry.path());
      description.append(bytes.begin(), bytes.end());
    }
    contents[fs::relative(entry.path(), folder).string()] = description;
  }
  return contents;
}

class HostileInputTest : public ToolTest {
 protected:
  void SetUp() override {
    // A feeder whose reader has gone must see a failed write, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    SavePicture("a.png", MakeImage(6, 4, [](int x, int y) {
                  return cv::Vec3b(uint8_t(x * 40), uint8_t(y * 60), 200);
                }));
    SavePicture("a_mask.png", FlatMask(6, 4, 255));
    zef::ZefImgWriter writer;
    writer.SetVersion(zef::kVersion3);
    writer.SetStartIndex(7);
    ASSERT_TRUE(writer.Write(Path("good.zef"), {FlatImage(4, 3, {9, 9, 9}), ImageWithColours(40)},
                             {}))
        << writer.GetError();
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void MakeFifo(const std::string& name) { ASSERT_EQ(mkfifo(Path(name).c_str(), 0600), 0); }

  // Runs the tool and checks what every run here must show: a normal end
  // within the guard, with code 0, under the memory limit, and no file
  // changed but `archive`.
  ToolResult RunChecked(const std::vector<std::string>& arguments,
                        std::vector<std::string> environment = {},
                        const std::string& archive = "") {
    auto before = FolderContents(dir_.path());
    ToolResult run = Run(arguments, Hostile(std::move(environment)));
    auto after = FolderContents(dir_.path());
    EXPECT_EQ(run.exitCode, 0) << "the tool did not end by itself; it printed:\n" << run.output;
    if (!kAddressSanitized) EXPECT_LT(run.peakKilobytes, kPeakLimitKilobytes);
    if (!archive.empty()) {
      before.erase(archive);
      after.erase(archive);
    }
    EXPECT_EQ(after, before) << "files were created or changed";
    return run;
  }
};

const std::string kFailedRead = kGreeting + "error while reading: ";

TEST_F(HostileInputTest, DevicesAsArchivesFailAtTheirFirstBytes) {
  for (const char* device : {"/dev/zero", "/dev/urandom"}) {
    SCOPED_TRACE(device);
    fs::create_symlink(device, dir_ / "device.zef");
    EXPECT_EQ(RunChecked({"-showImages", "device.zef"}).output,
              kFailedRead + "wrong header\n" + kPrompt + kExiting);
    fs::remove(dir_ / "device.zef");
  }
}

TEST_F(HostileInputTest, EndlessPipesAsArchivesFailAtTheirHeader) {
  struct Case {
    const char* name;
    Bytes head;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"zeros", {}, "wrong header"},
      {"a sound signature", {0xAA, 0xFF, 0xAA, 0x09, 0x00}, "wrong version"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeFifo("pipe.zef");
    FifoFeeder feeder(dir_ / "pipe.zef", c.head, true);
    EXPECT_EQ(RunChecked({"-showImages", "pipe.zef"}).output,
              kFailedRead + c.message + "\n" + kPrompt + kExiting);
    fs::remove(dir_ / "pipe.zef");
  }
}

// Whatever a pipe delivers before it ends is read as a file of those bytes.
TEST_F(HostileInputTest, PipesThatEndReadAsFilesOfTheirBytes) {
  const Bytes good = ReadFile(dir_ / "good.zef");
  struct Case {
    const char* name;
    Bytes bytes;
  };
  Bytes damaged = good;
  damaged[7] ^= 0x40;
  const std::vector<Case> cases = {
      {"a sound archive", good},
      {"a cut archive", Bytes(good.begin(), good.end() - 5)},
      {"a damaged archive", damaged},
      {"part of the signature", {0xAA, 0xFF}},
      {"the signature alone", {0xAA, 0xFF, 0xAA}},
      {"nothing", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir_ / "in.zef", c.bytes);
    const std::string fromFile = RunChecked({"-showImages", "in.zef"}).output;
    fs::remove(dir_ / "in.zef");
    MakeFifo("in.zef");
    {
      FifoFeeder feeder(dir_ / "in.zef", c.bytes, false);
      EXPECT_EQ(RunChecked({"-showImages", "in.zef"}).output, fromFile);
    }
    fs::remove(dir_ / "in.zef");
  }
  MakeFifo("in.zef");
  FifoFeeder feeder(dir_ / "in.zef", good, false);
  EXPECT_EQ(RunChecked({"-showImages", "in.zef"}).output,
            kGreeting + "read Bitmap(s) from in.zef\n" + kNoWindows + kPrompt);
}

TEST_F(HostileInputTest, LinesLongerThanTheLimitAreScriptFaults) {
  const std::string header = "startindex 0\noutputfilename out\nmask false\nstartimages\n";
  const std::string longest(65536, 'x');
  struct Case {
    const char* name;
    std::string script;
    std::string message;  // empty: the script converts
  };
  const std::vector<Case> cases = {
      {"a line at the limit", "#" + longest.substr(1) + "\n" + header + "a.png\n", ""},
      {"a line at the limit with its carriage return", header + "#" + longest.substr(1) +
                                                           "\r\na.png\n",
       ""},
      {"a line one byte too long", header + "#" + longest + "\na.png\n", "Line 5"},
      {"a megabyte long line", "startindex 0\n\n" + std::string(1 << 20, 'y') + "\n", "Line 3"},
      {"a last line too long", header + "a.png\n" + longest + "z", "Line 6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteText("script.txt", c.script);
    const std::string output = RunChecked({"script.txt"}, {}, "out.zef").output;
    if (c.message.empty()) {
      EXPECT_EQ(output, kGreeting + "Loading image files...\nLoading a.png\n" +
                            "wrote Bitmap(s) to out.zef\n" +
                            ExpectedSizeReport(SizeOf("a.png"), SizeOf("out.zef")) + kPrompt);
      fs::remove(dir_ / "out.zef");
    } else {
      EXPECT_EQ(output, kGreeting + c.message + kTooLongLine + kScriptFault + kPrompt + kExiting);
      EXPECT_FALSE(fs::exists(dir_ / "out.zef"));
    }
  }
}

TEST_F(HostileInputTest, EndlessScriptsFailAtTheirFirstLine) {
  const std::string expected = kGreeting + "Line 1" + kTooLongLine + kScriptFault + kPrompt + kExiting;
  EXPECT_EQ(RunChecked({"/dev/zero"}).output, expected);
  MakeFifo("script.txt");
  FifoFeeder feeder(dir_ / "script.txt", {'#'}, true);
  EXPECT_EQ(RunChecked({"script.txt"}).output, expected);
  // Short lines without end never reach the image lines: the script's line
  // count bounds them, one past the bound and not at it.
  const std::string tooMany = kGreeting + "The script has more than 262144 lines...\n" + kScriptFault + kPrompt + kExiting;
  std::string lines;
  for (int n = 0; n < 262144; ++n) lines += "x\n";
  WriteText("lines.txt", lines);
  EXPECT_EQ(RunChecked({"lines.txt"}).output, kGreeting +
                                                 "Missing StartIndex...\nMissing Outputfile...\n"
                                                 "Missing AlphaValues...\nMissing Mask flag...\n" +
                                                 kScriptFault + kPrompt + kExiting);
  WriteText("lines.txt", lines + "x\n");
  EXPECT_EQ(RunChecked({"lines.txt"}).output, tooMany);
  const std::string random = RunChecked({"/dev/urandom"}).output;
  const std::string end = kScriptFault + kPrompt + kExiting;
  ASSERT_GE(random.size(), end.size());
  EXPECT_EQ(random.substr(random.size() - end.size()), end);
}

// A NUL byte would end the name where the system opens it: the output name
// is refused, and images and masks are not loaded.
TEST_F(HostileInputTest, NamesWithNulBytesAreRefused) {
  WriteText("victim.png", "an earlier picture");
  const std::string nul(1, '\0');
  const std::string masked = "startindex 0\noutputfilename out\nmask on\nalphavalues 2\nstartimages\n";
  const std::string plain = "startindex 0\noutputfilename out\nmask off\nstartimages\n";
  struct Case {
    const char* name;
    std::string script;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"output name with a NUL at its end",
       "startindex 0\noutputfilename victim.png" + nul + "\nmask off\nstartimages\na.png\n",
       "Wrong OutputFilename...\n"},
      {"output name with a NUL before its extension",
       "startindex 0\noutputfilename victim.png" + nul + ".zef\nmask off\nstartimages\na.png\n",
       "Wrong OutputFilename...\n"},
      {"image name", plain + "a.png" + nul + "junk\n",
       "Loading image files...\nLoading a.png\nCould not load image a.png...\n"},
      {"mask name", masked + "a.png\na_mask.png" + nul + "\n",
       "Loading image files...\nLoading a.png\nLoading mask files...\nLoading a_mask.png\n"
       "Could not load mask image a_mask.png...\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteText("script.txt", c.script);
    EXPECT_EQ(RunChecked({"script.txt"}).output, kGreeting + c.expected + kPrompt + kExiting);
  }
}

TEST_F(HostileInputTest, ImagesThatAreNotRegularFilesAreNotLoaded) {
  MakeFifo("pipe.png");
  fs::create_symlink("pipe.png", dir_ / "to_pipe.png");
  fs::create_symlink("/dev/zero", dir_ / "zero.png");
  fs::create_directory(dir_ / "folder.png");
  fs::create_symlink("folder.png", dir_ / "to_folder.png");
  const std::string masked = "startindex 0\noutputfilename out\nmask on\nalphavalues 2\nstartimages\n";
  for (const char* name : {"pipe.png", "to_pipe.png", "zero.png", "to_folder.png"}) {
    SCOPED_TRACE(name);
    WriteText("script.txt", masked + name + "\na_mask.png\n");
    EXPECT_EQ(RunChecked({"script.txt"}).output,
              kGreeting + "Loading image files...\nLoading " + name + "\nCould not load image " +
                  name + "...\n" + kPrompt + kExiting);
    WriteText("script.txt", masked + "a.png\n" + name + "\n");
    EXPECT_EQ(RunChecked({"script.txt"}).output,
              kGreeting + "Loading image files...\nLoading a.png\nLoading mask files...\nLoading " +
                  name + "\nCould not load mask image " + name + "...\n" + kPrompt + kExiting);
  }
  // A link is followed to the regular file it names.
  fs::create_symlink("a.png", dir_ / "to_a.png");
  WriteText("script.txt", "startindex 0\noutputfilename out\nmask off\nstartimages\nto_a.png\n");
  const std::string output = RunChecked({"script.txt"}, {}, "out.zef").output;
  EXPECT_EQ(output,
            kGreeting + "Loading image files...\nLoading to_a.png\nwrote Bitmap(s) to out.zef\n" +
                ExpectedSizeReport(SizeOf("a.png"), SizeOf("out.zef")) + kPrompt);
}

// Beneath the reader: a pipe stops at the limit or as soon as its first
// bytes decide; a regular file is read whole whatever the limit.
// A small archive of one image 65534 pixels wide in runs of 255, its one
// line repeated `height` times: a few megabytes that decode to gigabytes.
Bytes WideArchive(uint32_t height) {
  const Bytes one = Encoded({FlatImage(zef::kMaxImageWidth, 1, {16, 32, 48})}, {}, OptionsOf(3, 0));
  const size_t marker = ImageOffset(one, 0);
  const Bytes line(one.begin() + long(marker) + 2 + 4, one.end());
  const uint32_t runs = uint32_t(line.size() - 2) / 2 * height;
  Bytes archive(one.begin(), one.begin() + long(marker) + 2);
  for (int i = 0; i < 4; ++i) archive.push_back(uint8_t(runs >> (8 * i)));
  for (uint32_t y = 0; y < height; ++y) archive.insert(archive.end(), line.begin(), line.end());
  for (int i = 0; i < 4; ++i) archive[25 + 6 + size_t(i)] = uint8_t(height >> (8 * i));  // record height
  return archive;
}

TEST_F(HostileInputTest, ArchivesThatDecodeToGigabytesAreRefusedBeforeTheyAreDecoded) {
  struct Case {
    uint32_t height;
    std::string output;
  } cases[] = {
      // 2.4 GB of pixels from 6 MB: past the tool's 512 MiB of decoded images.
      {12000, kFailedRead + "error in image data (image too large)\n" + kPrompt + kExiting},
      // 393 MB stays within it and shows.
      {2000, kGreeting + "read Bitmap(s) from wide.zef\n" + kNoWindows + kPrompt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.height);
    const Bytes archive = WideArchive(c.height);
    std::ofstream(dir_ / "wide.zef", std::ios::binary)
        .write(reinterpret_cast<const char*>(archive.data()), std::streamsize(archive.size()));
    auto before = FolderContents(dir_.path());
    RunSetting setting = Hostile();
    setting.addressSpaceBytes = uint64_t{2} << 30;
    const ToolResult run = Run({"-showImages", "wide.zef"}, setting);
    EXPECT_EQ(run.output, c.output);
    EXPECT_EQ(run.exitCode, 0);
    // Whole process: the decoded images and the file, never the gigabytes.
    if (!kAddressSanitized) EXPECT_LT(run.peakKilobytes, 1200 * 1024);
    EXPECT_EQ(FolderContents(dir_.path()), before);
  }
}

TEST(FileBytesTest, OnlyInputsOfUnknownSizeAreBounded) {
  TempDir dir;
  std::signal(SIGPIPE, SIG_IGN);
  const uint64_t limit = (uint64_t{1} << 20) + 5;
  const auto firstBytesDecide = [](const uint8_t*, size_t size) { return size >= 3; };
  struct Case {
    const char* name;
    zef::PrefixDecides decides;
    bool atLimit;
  };
  const Case cases[] = {{"to the limit", nullptr, true},
                        {"to the decision", firstBytesDecide, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    FifoFeeder feeder(dir / "pipe", {1, 2, 3}, true);
    const auto bytes = zef::ReadFileBytes((dir / "pipe").string(), limit, c.decides);
    ASSERT_TRUE(bytes);
    if (c.atLimit) {
      EXPECT_EQ(bytes->size(), limit);
    } else {
      EXPECT_GE(bytes->size(), 3u);
      EXPECT_LT(bytes->size(), limit);
    }
    EXPECT_EQ(Bytes(bytes->begin(), bytes->begin() + 3), Bytes({1, 2, 3}));
    fs::remove(dir / "pipe");
  }
  const Bytes file(limit + 100, 7);
  WriteFile(dir / "file", file);
  EXPECT_EQ(zef::ReadFileBytes((dir / "file").string(), limit, firstBytesDecide), file);
}

// A display that does not answer is no display: the run says so once and
// goes on exactly as it does without one, to the archive's last byte.
TEST_F(HostileInputTest, UnreachableDisplaysAreTreatedAsNone) {
  if (fs::exists("/tmp/.X11-unix/X77")) GTEST_SKIP() << "display :77 exists here";
  WriteText("script.txt",
            "startindex 3\noutputfilename out\nmask on\nalphavalues 4\nstartimages\na.png\n"
            "a_mask.png\n");
  const std::vector<std::string> convert = {"-showOriginalImages", "-showConvertedImages",
                                            "script.txt"};
  const std::vector<std::string> show = {"-showImages", "good.zef"};
  const std::string shown = RunChecked(show).output;
  const std::string converted = RunChecked(convert, {}, "out.zef").output;
  const Bytes archive = ReadFile(dir_ / "out.zef");
  ASSERT_NE(converted.find(kNoWindows), std::string::npos);

  const std::string runtimeDir = "XDG_RUNTIME_DIR=" + dir_.path().string();
  const std::vector<std::vector<std::string>> environments = {
      {"DISPLAY=:77"},
      {"WAYLAND_DISPLAY=wayland-77", runtimeDir},
      {"DISPLAY=:77", "WAYLAND_DISPLAY=" + Path("wayland-77")},
  };
  for (const auto& environment : environments) {
    SCOPED_TRACE(environment.front());
    EXPECT_EQ(RunChecked(show, environment).output, shown);
    fs::remove(dir_ / "out.zef");
    EXPECT_EQ(RunChecked(convert, environment, "out.zef").output, converted);
    EXPECT_EQ(ReadFile(dir_ / "out.zef"), archive);
  }
}

}  // namespace
}  // namespace zeftest
