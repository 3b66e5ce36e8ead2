// ZefiConvert: converts the images named in a conversion script into one
// .zef archive, or shows the images of an archive. Every run ends with a
// key wait and exit code 0; success and failure show only on the console.
#include <opencv2/core/utility.hpp>
#include <opencv2/core/utils/logger.hpp>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <string>

#include "frontend/Console.h"
#include "frontend/Display.h"
#include "frontend/LoadImages.h"
#include "frontend/Options.h"
#include "frontend/RunState.h"
#include "frontend/Script.h"
#include "frontend/WriteArchive.h"

namespace zef::frontend {
namespace {

void FailAndExit() {
  WaitForKey();
  PrintLine("Exiting...");
}

void ShowArchive(RunState& run, const std::string& fileName) {
  if (!ShowArchiveImages(fileName)) return FailAndExit();
  run.ReleaseImages();
  WaitForKey();
}

void Convert(RunState& run, const std::string& scriptName) {
  if (!ParseScript(run, scriptName)) return FailAndExit();
  if (!LoadImages(run)) return FailAndExit();
  if (run.showOriginalImages) ShowSourceImages(run);
  if (!WriteArchive(run)) {
    run.ReleaseImages();
    return FailAndExit();
  }
  // A failed display has printed its own message; the archive stands.
  if (run.showConvertedImages) ShowArchiveImages(run.outputFileName);
  run.ReleaseImages();
  WaitForKey();
}

void Run(RunState& run, int argc, const char* const* argv) {
  PrintText("Welcome to ZefiConvert\n\n");
  if (!ParseOptions(run, argc, argv)) return PrintUsage();
  const std::string fileName = argv[argc - 1];
  if (run.showImages) return ShowArchive(run, fileName);
  Convert(run, fileName);
}

}  // namespace
}  // namespace zef::frontend

int main(int argc, char** argv) {
  // A reader that closed the console pipe early must not turn into a
  // failing exit code.
  std::signal(SIGPIPE, SIG_IGN);
  // The library's own warnings would mix into the tool's messages.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  try {
    // ZEF_THREADS: how many threads load the images; one per core without
    // it and at most. More would only wait, and the thread library would
    // warn of them on the console.
    const int threads = zef::frontend::ThreadSetting(std::getenv(zef::frontend::kThreadsVariable));
    if (threads > 0) cv::setNumThreads(std::min(threads, std::max(1, cv::getNumberOfCPUs())));
    zef::frontend::RunState run;
    zef::frontend::Run(run, argc, argv);
  } catch (const std::exception&) {
    // Nothing is left to report to; the exit code stays 0 as on every path.
  }
  return 0;
}
