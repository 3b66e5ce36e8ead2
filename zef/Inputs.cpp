#include "zef/Inputs.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <set>
#include <system_error>
#include <utility>

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

// --- the conversion script -------------------------------------------------

constexpr int32_t kMaxStartIndex = 10000000;
constexpr size_t kMinOutputNameLength = 2;
constexpr size_t kShortestLine = 4;
constexpr char kCommentMark = '#';
const std::string kArchiveExtension = ".zef";

std::string TrimSpaces(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::optional<std::string> KeyValue(const std::string& line, const std::string& key) {
  if (line.size() < key.size() || LowerCase(line.substr(0, key.size())) != key) {
    return std::nullopt;
  }
  return TrimSpaces(line.substr(key.size()));
}

// A leading decimal number as atoi reads it, saturated at the 32-bit ends.
int32_t ReadDecimal(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  return int32_t(std::clamp<long long>(value, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A carriage return before the line feed belongs to the line ending.
bool ReadScriptLine(std::istream& in, std::string& line) {
  if (!std::getline(in, line)) return false;
  if (!in.eof() && !line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

struct GivenMarks {
  bool startIndex = false;
  bool outputFile = false;
  bool mask = false;
  bool alphaValues = false;
  bool listBegun = false;
  bool maskPending = false;
};

// Every key is tried in turn, and a matched key's value stands in for the
// line for the keys after it, as in the console tool.
bool ReadHeaderLine(Script& script, GivenMarks& given, std::string line, std::string* error) {
  if (auto value = KeyValue(line, "startindex")) {
    script.startIndex = ReadDecimal(*value);
    if (script.startIndex < 0 || script.startIndex > kMaxStartIndex) {
      *error = "Wrong StartIndex (0-10000000)...";
      return false;
    }
    given.startIndex = true;
    line = *value;
  }
  if (auto value = KeyValue(line, "outputfilename")) {
    script.outputFileName = *value;
    if (value->size() < kMinOutputNameLength) {
      *error = "Wrong OutputFilename...";
      return false;
    }
    if (value->size() <= kArchiveExtension.size() || !EndsWith(*value, kArchiveExtension)) {
      script.outputFileName += kArchiveExtension;
    }
    given.outputFile = true;
    line = *value;
  }
  if (auto value = KeyValue(line, "mask")) {
    *value = LowerCase(*value);
    script.useMask = *value == "true" || *value == "1" || *value == "yes" || *value == "on";
    if (!script.useMask) given.maskPending = false;
    given.mask = true;
    line = *value;
  }
  if (auto value = KeyValue(line, "alphavalues")) {
    script.alphaValues = ReadDecimal(LowerCase(*value));
    if (script.alphaValues != 2 && script.alphaValues != 4) {
      *error = "Please set alpha values to 2 or 4...";
      return false;
    }
    given.alphaValues = true;
    line = *value;
  }
  if (KeyValue(line, "startimages")) given.listBegun = true;
  return true;
}

void AddFileName(Script& script, GivenMarks& given, const std::string& name) {
  if (script.useMask && given.maskPending) {
    script.items.back().mask = name;
    given.maskPending = false;
    return;
  }
  script.items.push_back({name, {}});
  given.maskPending = script.useMask;
}

std::string Missing(const Script& script, const GivenMarks& given) {
  std::string missing;
  auto add = [&missing](const char* message) {
    if (!missing.empty()) missing += ' ';
    missing += message;
  };
  if (!given.startIndex) add("Missing StartIndex...");
  if (!given.outputFile) add("Missing Outputfile...");
  if (script.useMask && !given.alphaValues) add("Missing AlphaValues...");
  if (!given.mask) add("Missing Mask flag...");
  if (script.useMask && given.maskPending) add("Missing maskfile filename...");
  return missing;
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
      *error = input + ": no such file or folder";
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
  std::error_code ignored;
  std::ifstream in;
  if (!fs::is_directory(fileName, ignored)) in.open(fileName);
  if (!in.is_open()) {
    *error = "could not open file " + fileName;
    return std::nullopt;
  }
  Script script;
  GivenMarks given;
  std::string line;
  while (ReadScriptLine(in, line)) {
    if (line.size() < kShortestLine || line.front() == kCommentMark) continue;
    if (given.listBegun) {
      AddFileName(script, given, line);
    } else if (!ReadHeaderLine(script, given, line, error)) {
      *error = fileName + ": " + *error;
      return std::nullopt;
    }
  }
  std::string missing = Missing(script, given);
  if (!missing.empty() || script.items.empty()) {
    if (script.items.empty()) missing += std::string(missing.empty() ? "" : " ") + "No image files named...";
    *error = fileName + ": " + missing;
    return std::nullopt;
  }
  return script;
}

}  // namespace zef::tool
