// Conversion-script parser on arbitrary text. Whatever the text, ParseScript
// must return, and the run state it leaves must be usable: on success an
// output name ending in ".zef", a start index in range, at least one image
// and, with masks, one mask per image and a valid alpha count; on failure
// no file names.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "frontend/RunState.h"
#include "frontend/Script.h"

namespace {

constexpr int32_t kMaxStartIndex = 10000000;

const std::string& ScriptPath() {
  static const std::string path = [] {
    const std::filesystem::path folder =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    return (folder / ("zef-script-fuzz-" + std::to_string(getpid()) + ".txt")).string();
  }();
  return path;
}

// Removes the scratch file when an execution ends, so that no run of the
// fuzzer leaves files behind, however it is stopped between executions.
struct RemoveWhenDone {
  const std::string& path;
  ~RemoveWhenDone() { std::remove(path.c_str()); }
};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "script_fuzz: %s\n", what);
  std::abort();
}

bool EndsWithExtension(const std::string& name) {
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".zef") == 0;
}

}  // namespace

// The parser reports every fault on standard output; the fuzzer's own
// reports go to standard error and stay visible.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) {
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const RemoveWhenDone scratch{ScriptPath()};
  {
    std::ofstream out(ScriptPath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  zef::frontend::RunState run;
  if (zef::frontend::ParseScript(run, ScriptPath())) {
    if (run.imageFileNames.empty()) Fail("accepted without images");
    if (!EndsWithExtension(run.outputFileName)) Fail("output name without .zef");
    if (run.startIndex < 0 || run.startIndex > kMaxStartIndex) Fail("start index out of range");
    if (run.useMask && run.maskFileNames.size() != run.imageFileNames.size()) Fail("masks do not pair up");
    if (run.useMask && run.alphaValues != 2 && run.alphaValues != 4) Fail("alpha values accepted");
    if (!run.useMask && !run.maskFileNames.empty()) Fail("mask names without masks");
  } else if (!run.imageFileNames.empty() || !run.maskFileNames.empty()) {
    Fail("refused script left file names");
  }
  return 0;
}
