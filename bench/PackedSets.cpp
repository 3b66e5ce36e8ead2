#include "bench/PackedSets.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace zefbench {

std::vector<uint8_t> PackSet(const PictureSet& set, const std::string& folder, zef::tool::PackOptions options,
                             std::string* error) {
  if (!std::filesystem::exists(folder) && !WritePictures(set, folder)) {
    *error = "cannot write the pictures of " + set.name + " into " + folder;
    return {};
  }
  options.inputs = {folder};
  options.scriptFile.clear();
  options.outputFile = folder + ".zef";
  const auto result = zef::tool::Pack(options, error);
  if (!result) return {};
  if (result->images.size() != set.pictures.size()) {
    *error = "zef pack took " + std::to_string(result->images.size()) + " of the " +
             std::to_string(set.pictures.size()) + " pictures of " + set.name;
    return {};
  }
  std::ifstream file(options.outputFile, std::ios::binary);
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (!file || bytes.size() != result->archiveBytes) {
    *error = "cannot read back " + options.outputFile;
    return {};
  }
  return bytes;
}

}  // namespace zefbench
