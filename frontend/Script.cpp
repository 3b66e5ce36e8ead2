#include "frontend/Script.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>

#include "frontend/Console.h"
#include "frontend/TextCase.h"

namespace zef::frontend {

namespace {

constexpr int32_t kMaxStartIndex = 10000000;
constexpr size_t kMinOutputNameLength = 2;
// Lines this short cannot hold a key with a value or a useful file name.
constexpr size_t kShortestLine = 4;
constexpr char kCommentMark = '#';
const std::string kArchiveExtension = ".zef";

std::string TrimSpaces(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Keys stand in the first column, in any letter case, with no separator:
// the value is the rest of the line without surrounding spaces.
std::optional<std::string> KeyValue(const std::string& line, const std::string& key) {
  if (line.size() < key.size() || LowerCase(line.substr(0, key.size())) != key) {
    return std::nullopt;
  }
  return TrimSpaces(line.substr(key.size()));
}

bool IsTrueWord(const std::string& value) {
  return value == "true" || value == "1" || value == "yes" || value == "on";
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A line feed ends a line; a carriage return right before it belongs to
// the line ending. Lines of any length are read whole.
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
  bool maskPending = false;  // the last image name still waits for its mask
};

void AddFileName(RunState& run, GivenMarks& given, const std::string& name) {
  if (!run.useMask) {
    run.imageFileNames.push_back(name);
  } else if (!given.maskPending) {
    run.imageFileNames.push_back(name);
    given.maskPending = true;
  } else {
    run.maskFileNames.push_back(name);
    given.maskPending = false;
  }
}

// Tests one header line against every key in turn. A matched key's value
// replaces the line for the keys after it, so "outputfilename maskfile"
// also sets the mask flag. False when a value is refused.
bool ReadHeaderLine(RunState& run, GivenMarks& given, std::string line) {
  if (auto value = KeyValue(line, "startindex")) {
    run.startIndex = ReadDecimal(*value);
    if (run.startIndex < 0 || run.startIndex > kMaxStartIndex) {
      PrintLine("Wrong StartIndex (0-10000000)...");
      return false;
    }
    given.startIndex = true;
    line = *value;
  }
  if (auto value = KeyValue(line, "outputfilename")) {
    run.outputFileName = *value;
    if (value->size() < kMinOutputNameLength) {
      PrintLine("Wrong OutputFilename...");
      return false;
    }
    if (value->size() <= kArchiveExtension.size() || !EndsWith(*value, kArchiveExtension)) {
      run.outputFileName += kArchiveExtension;
    }
    given.outputFile = true;
    line = *value;
  }
  if (auto value = KeyValue(line, "mask")) {
    *value = LowerCase(*value);
    run.useMask = IsTrueWord(*value);
    if (!run.useMask) given.maskPending = false;
    given.mask = true;
    line = *value;
  }
  if (auto value = KeyValue(line, "alphavalues")) {
    *value = LowerCase(*value);
    run.alphaValues = ReadDecimal(*value);
    if (run.alphaValues != 2 && run.alphaValues != 4) {
      PrintLine("Please set alpha values to 2 or 4...");
      return false;
    }
    given.alphaValues = true;
    line = *value;
  }
  if (KeyValue(line, "startimages")) given.listBegun = true;
  return true;
}

// Prints every missing piece; true when nothing is missing.
bool ReportMissing(const RunState& run, const GivenMarks& given) {
  bool complete = true;
  auto missing = [&complete](const char* message) {
    PrintLine(message);
    complete = false;
  };
  if (!given.startIndex) missing("Missing StartIndex...");
  if (!given.outputFile) missing("Missing Outputfile...");
  if (run.useMask && !given.alphaValues) missing("Missing AlphaValues...");
  if (!given.mask) missing("Missing Mask flag...");
  if (run.useMask && given.maskPending) missing("Missing maskfile filename...");
  return complete;
}

}  // namespace

int32_t ReadDecimal(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

bool ParseScript(RunState& run, const std::string& fileName) {
  std::error_code ignored;
  std::ifstream in;
  // A directory opens as a stream on this system but has no lines to give.
  if (!std::filesystem::is_directory(fileName, ignored)) in.open(fileName);
  if (!in.is_open()) {
    PrintLine("could not open file " + fileName);
    return false;
  }
  GivenMarks given;
  std::string line;
  while (ReadScriptLine(in, line)) {
    if (line.size() < kShortestLine || line.front() == kCommentMark) continue;
    if (given.listBegun) {
      AddFileName(run, given, line);
    } else if (!ReadHeaderLine(run, given, line)) {
      return false;
    }
  }
  if (ReportMissing(run, given) && !run.imageFileNames.empty()) return true;
  PrintLine("something wrong in script file...");
  run.startIndex = 0;
  run.imageFileNames.clear();
  run.maskFileNames.clear();
  return false;
}

}  // namespace zef::frontend
