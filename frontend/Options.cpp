#include "frontend/Options.h"

#include <cstdio>
#include <string>

#include "frontend/Console.h"
#include "frontend/TextCase.h"

namespace zef::frontend {

bool ParseOptions(RunState& run, int argc, const char* const* argv) {
  if (argc < 2) {
    PrintText("Please specify a script filename...\n");
    return false;
  }
  // The last argument is the file name, even when it looks like an option.
  for (int i = 1; i < argc - 1; ++i) {
    const std::string option = LowerCase(argv[i]);
    if (option == "-showoriginalimages") {
      run.showOriginalImages = true;
    } else if (option == "-showconvertedimages") {
      run.showConvertedImages = true;
    } else if (option == "-showimages") {
      run.showImages = true;
    } else {
      return false;
    }
  }
  return true;
}

void PrintUsage() {
  PrintText("Usage:\n\n");
  PrintText(
      "To convert images to the zefimage format use the tool like this:\n\n"
      "  ZefiConvert [-showOriginalImages] [-showConvertedImages] <script-filename>\n\n");
  PrintText(
      "You can also display the content of an existing zefimage archive:\n\n"
      "  ZefiConvert -showImages <zefimage-filename>\n\n");
  PrintText(kKeyPrompt);
  AwaitKeyPress();
}

int ThreadSetting(const char* value) {
  if (value == nullptr || *value == '\0') return 0;
  int threads = 0;
  for (const char* digit = value; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return 0;
    threads = threads * 10 + (*digit - '0');
    if (threads > kMostThreads) return 0;
  }
  return threads;
}

}  // namespace zef::frontend
