// Which files `zef pack` packs: image files and folders from the command
// line, or the list of a conversion script, each with its mask file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zef::tool {

struct InputItem {
  std::string image;
  std::string mask;  // empty: the image's own alpha channel, if any
};

// Whether the name has the extension of a picture format the image library reads.
bool IsImageFileName(const std::filesystem::path& path);

// Files are taken as given; a folder gives its image files (not its
// sub-folders), sorted bytewise by name. An image `<stem>.<ext>` takes
// `<stem><maskSuffix>.<ext>` beside it as its mask when that file exists,
// and a file that serves as a mask is not packed as an image. No value,
// with the message in *error, when an input does not exist or a folder
// holds no image.
std::optional<std::vector<InputItem>> CollectInputs(const std::vector<std::string>& inputs,
                                                    const std::string& maskSuffix,
                                                    std::string* error);

// What a conversion script says, read by the console tool's rules: keys
// in the first column in any letter case, lines shorter than four
// characters and lines starting with '#' skipped, and with masks on, file
// names in pairs of image and mask.
struct Script {
  int32_t startIndex = 0;
  std::string outputFileName;  // ".zef" added as the console tool adds it
  bool useMask = true;
  int alphaValues = 2;
  std::vector<InputItem> items;
};

// No value, with every fault the console tool would print joined into
// *error, when the script cannot be read or is incomplete.
std::optional<Script> ReadScript(const std::string& fileName, std::string* error);

}  // namespace zef::tool
