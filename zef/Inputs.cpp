#include "zef/Inputs.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <set>
#include <system_error>
#include <utility>

#include "writer/ConversionScript.h"

namespace zef::tool {

namespace fs = std::filesystem;

namespace {

std::string LowerCase(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The same file reached by two spellings ("a/./b.png", "a/b.png") compares
// equal; links are not followed, which would cost a call per component.
std::string Identity(const fs::path& path) {
  std::error_code failed;
  const fs::path absolute = fs::absolute(path, failed);
  return (failed ? path : absolute).lexically_normal().string();
}

fs::path MaskPathOf(const fs::path& image, const std::string& suffix) {
  fs::path mask = image;
  mask.replace_filename(image.stem().string() + suffix + image.extension().string());
  return mask;
}

bool IsRegularFile(const fs::path& path) {
  std::error_code failed;
  return fs::is_regular_file(path, failed);
}

}  // namespace

bool IsImageFileName(const fs::path& path) {
  static const std::array<std::string, 20> kExtensions = {
      ".png", ".bmp", ".dib", ".jpg",  ".jpeg", ".jpe", ".jp2", ".tif", ".tiff", ".webp",
      ".pbm", ".pgm", ".ppm", ".pnm",  ".pxm",  ".pam", ".sr",  ".ras", ".hdr",  ".pic"};
  const std::string extension = LowerCase(path.extension().string());
  return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

std::optional<std::vector<InputItem>> CollectInputs(const std::vector<std::string>& inputs,
                                                    const std::string& maskSuffix,
                                                    std::string* error) {
  struct Candidate {
    fs::path image;
    bool listed = false;      // found in a folder listing, which answers for its mask
    bool maskListed = false;  // its mask stands in the same folder listing
  };
  std::vector<Candidate> candidates;
  for (const std::string& input : inputs) {
    std::error_code failed;
    const fs::file_status status = fs::status(input, failed);
    if (fs::is_regular_file(status)) {
      candidates.push_back({fs::path(input), false, false});
      continue;
    }
    if (!fs::is_directory(status)) {
      *error = input + (fs::exists(status) ? ": not a regular file (a FIFO, device or socket is not read)"
                                           : ": no such file or folder");
      return std::nullopt;
    }
    // Each file with its name, taken apart once rather than at every
    // comparison of the sort.
    std::vector<std::pair<std::string, fs::path>> files;
    for (fs::directory_iterator entry(input, failed), end; !failed && entry != end;
         entry.increment(failed)) {
      std::error_code unknown;
      if (IsImageFileName(entry->path()) && entry->is_regular_file(unknown)) {
        files.emplace_back(entry->path().filename().string(), entry->path());
      }
    }
    if (failed) {
      *error = input + ": cannot list the folder (" + failed.message() + ")";
      return std::nullopt;
    }
    // Bytewise by file name, whatever the locale.
    std::sort(files.begin(), files.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    if (files.empty()) {
      *error = input + ": the folder holds no image files";
      return std::nullopt;
    }
    // A mask with the image's extension is an image file name too, so the
    // listing answers for it without asking the file system again.
    std::set<std::string> names;
    for (const auto& file : files) names.insert(file.first);
    for (const auto& [name, file] : files) {
      candidates.push_back({file, true, names.count(MaskPathOf(file, maskSuffix).filename().string()) != 0});
    }
  }

  std::vector<InputItem> items;
  std::set<std::string> masks;
  for (const Candidate& candidate : candidates) {
    const fs::path mask = MaskPathOf(candidate.image, maskSuffix);
    const bool hasMask = candidate.maskListed || (!candidate.listed && IsRegularFile(mask));
    if (hasMask) masks.insert(Identity(mask));
    items.push_back({candidate.image.string(), hasMask ? mask.string() : std::string()});
  }
  if (!masks.empty()) {
    std::erase_if(items, [&masks](const InputItem& item) { return masks.count(Identity(item.image)) != 0; });
  }
  if (items.empty()) {
    *error = "no images to pack: every input is the mask of another";
    return std::nullopt;
  }
  return items;
}

std::optional<Script> ReadScript(const std::string& fileName, std::string* error) {
  ScriptReading reading = ReadConversionScript(fileName);
  ConversionScript& read = reading.script;
  if (reading.fault == ScriptFault::kIncomplete && read.imageFileNames.empty()) {
    reading.messages.push_back("No image files named...");
  }
  if (reading.fault != ScriptFault::kNone) {
    std::string joined;
    for (const std::string& message : reading.messages) joined += (joined.empty() ? "" : " ") + message;
    // The open failure names the file already.
    *error = reading.fault == ScriptFault::kCannotOpen ? joined : fileName + ": " + joined;
    return std::nullopt;
  }
  Script script{read.startIndex, std::move(read.outputFileName), read.useMask, read.alphaValues, {}};
  for (size_t i = 0; i < read.imageFileNames.size(); ++i) {
    script.items.push_back({std::move(read.imageFileNames[i]),
                            read.useMask ? std::move(read.maskFileNames[i]) : std::string()});
  }
  return script;
}

}  // namespace zef::tool
