// zef: packs images into .zef archives, lists and extracts them.
#include <opencv2/core/utils/logger.hpp>

#include <exception>
#include <iostream>

#include "zef/Commands.h"
#include "zef/PendingFile.h"

int main(int argc, char** argv) {
  // The image library's own warnings would mix into the program's messages.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  zef::tool::RemovePendingFilesOnSignals();
  try {
    return zef::tool::RunCommandLine(argc, argv, std::cout, std::cerr);
  } catch (const std::exception& exception) {
    std::cerr << "zef: " << exception.what() << "\n";
  }
  return zef::tool::kExitFailed;
}
