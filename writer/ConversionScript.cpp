#include "writer/ConversionScript.h"

#include "archive/ZefFormat.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string>

namespace zef {

namespace {

constexpr int32_t kMaxStartIndex = 10000000;
constexpr size_t kMinOutputNameLength = 2;
// Lines this short cannot hold a key with a value or a useful file name.
constexpr size_t kShortestLine = 4;
constexpr char kCommentMark = '#';
const std::string kArchiveExtension = ".zef";
// Longest line read; a longer one is a fault, so that no script, not even
// an endless one without line feeds, makes the line grow without bound.
constexpr size_t kMaxLineBytes = 65536;
// Most lines read: twice the writer's image limit (an image and its mask
// each), and as much again for keys, comments and blank lines. Past it
// the script is faulty, so that no endless source of short lines (random
// bytes, say, which never hold `startimages`) is read without end.
constexpr uint64_t kMaxScriptLines = 4 * kMaxImagesV3;

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

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

enum class LineRead { kLine, kEnd, kTooLong };

// A line feed ends a line; a carriage return right before it belongs to
// the line ending. Reads at most one byte past the longest line.
LineRead ReadScriptLine(std::istream& in, std::string& line) {
  line.clear();
  std::streambuf& bytes = *in.rdbuf();
  bool any = false;
  for (;;) {
    const int next = bytes.sbumpc();
    if (next == std::char_traits<char>::eof()) break;
    any = true;
    if (next == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      break;
    }
    // Room for the carriage return of a line that is just short enough.
    if (line.size() > kMaxLineBytes) return LineRead::kTooLong;
    line.push_back(char(next));
  }
  if (!any) return LineRead::kEnd;
  return line.size() > kMaxLineBytes ? LineRead::kTooLong : LineRead::kLine;
}

struct GivenMarks {
  bool startIndex = false;
  bool outputFile = false;
  bool mask = false;
  bool alphaValues = false;
  bool listBegun = false;
  bool maskPending = false;  // the last image name still waits for its mask
};

void AddFileName(ConversionScript& script, GivenMarks& given, const std::string& name) {
  if (!script.useMask) {
    script.imageFileNames.push_back(name);
  } else if (!given.maskPending) {
    script.imageFileNames.push_back(name);
    given.maskPending = true;
  } else {
    script.maskFileNames.push_back(name);
    given.maskPending = false;
  }
}

// Tests one header line against every key in turn. A matched key's value
// replaces the line for the keys after it, so "outputfilename maskfile"
// also sets the mask flag. The message when a value is refused.
std::optional<std::string> ReadHeaderLine(ConversionScript& script, GivenMarks& given,
                                          std::string line) {
  if (auto value = KeyValue(line, "startindex")) {
    script.startIndex = ReadDecimal(*value);
    if (script.startIndex < 0 || script.startIndex > kMaxStartIndex) {
      return "Wrong StartIndex (0-10000000)...";
    }
    given.startIndex = true;
    line = *value;
  }
  if (auto value = KeyValue(line, "outputfilename")) {
    script.outputFileName = *value;
    // The file is opened by its C string, which ends at a NUL byte: the
    // name checked here would not be the name written to.
    if (value->size() < kMinOutputNameLength || value->find('\0') != std::string::npos) {
      return "Wrong OutputFilename...";
    }
    if (value->size() <= kArchiveExtension.size() || !EndsWith(*value, kArchiveExtension)) {
      script.outputFileName += kArchiveExtension;
    }
    given.outputFile = true;
    line = *value;
  }
  if (auto value = KeyValue(line, "mask")) {
    *value = LowerCase(*value);
    script.useMask = IsTrueWord(*value);
    if (!script.useMask) given.maskPending = false;
    given.mask = true;
    line = *value;
  }
  if (auto value = KeyValue(line, "alphavalues")) {
    *value = LowerCase(*value);
    script.alphaValues = ReadDecimal(*value);
    if (script.alphaValues != 2 && script.alphaValues != 4) {
      return "Please set alpha values to 2 or 4...";
    }
    given.alphaValues = true;
    line = *value;
  }
  if (KeyValue(line, "startimages")) given.listBegun = true;
  return std::nullopt;
}

// Every missing piece, in the order the console tool names them.
void AddMissing(const ConversionScript& script, const GivenMarks& given,
                std::vector<std::string>& messages) {
  if (!given.startIndex) messages.push_back("Missing StartIndex...");
  if (!given.outputFile) messages.push_back("Missing Outputfile...");
  if (script.useMask && !given.alphaValues) messages.push_back("Missing AlphaValues...");
  if (!given.mask) messages.push_back("Missing Mask flag...");
  if (script.useMask && given.maskPending) messages.push_back("Missing maskfile filename...");
}

}  // namespace

int32_t ReadDecimal(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

ScriptReading ReadConversionScript(const std::string& fileName) {
  ScriptReading reading;
  std::error_code ignored;
  std::ifstream in;
  // A directory opens as a stream on this system but has no lines to give.
  if (!std::filesystem::is_directory(fileName, ignored)) in.open(fileName);
  if (!in.is_open()) {
    reading.fault = ScriptFault::kCannotOpen;
    reading.messages.push_back("could not open file " + fileName);
    return reading;
  }
  ConversionScript& script = reading.script;
  GivenMarks given;
  std::string line;
  for (uint64_t number = 1;; ++number) {
    const LineRead read = ReadScriptLine(in, line);
    if (read == LineRead::kTooLong) {
      reading.messages.push_back("Line " + std::to_string(number) + " of the script is longer than " +
                                 std::to_string(kMaxLineBytes) + " bytes...");
      reading.fault = ScriptFault::kIncomplete;
      break;
    }
    if (read == LineRead::kLine && number > kMaxScriptLines) {
      reading.messages.push_back("The script has more than " + std::to_string(kMaxScriptLines) + " lines...");
      reading.fault = ScriptFault::kIncomplete;
      break;
    }
    if (read == LineRead::kEnd) {
      AddMissing(script, given, reading.messages);
      if (!reading.messages.empty() || script.imageFileNames.empty()) {
        reading.fault = ScriptFault::kIncomplete;
      }
      break;
    }
    if (line.size() < kShortestLine || line.front() == kCommentMark) continue;
    if (given.listBegun) {
      AddFileName(script, given, line);
    } else if (auto refused = ReadHeaderLine(script, given, line)) {
      reading.fault = ScriptFault::kBadValue;
      reading.messages.push_back(std::move(*refused));
      return reading;
    }
  }
  return reading;
}

}  // namespace zef
