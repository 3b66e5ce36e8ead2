#include "zef/Embed.h"

#include <algorithm>
#include <iterator>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "zef/Archive.h"
#include "zef/Commands.h"
#include "zef/PendingFile.h"
#include "zef/CText.h"

namespace zef::tool {

namespace {

const char* const kProgram = "zef: ";
constexpr size_t kBytesPerLine = 16;

bool IsIdentifierCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string UpperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  return text;
}

std::string FileName(const std::string& path) {
  return CommentText(std::filesystem::path(path).filename().string());
}

std::string ByteLines(const std::vector<uint8_t>& bytes) {
  std::string text;
  text.reserve(bytes.size() * 6 + bytes.size() / kBytesPerLine * 5 + 8);
  char hex[8];
  for (size_t n = 0; n < bytes.size(); ++n) {
    if (n % kBytesPerLine == 0) text += "    ";
    std::snprintf(hex, sizeof hex, "0x%02x,", bytes[n]);
    text += hex;
    text += (n % kBytesPerLine == kBytesPerLine - 1 || n + 1 == bytes.size()) ? "\n" : " ";
  }
  return text;
}

// Both macros stay overridable: a compiler that spells alignment or
// sections otherwise gets them predefined by its user.
const char* const kAttributeMacros =
    "#ifndef ZEF_ALIGN\n"
    "#if defined(__GNUC__) || defined(__clang__)\n"
    "#define ZEF_ALIGN(bytes) __attribute__((aligned(bytes)))\n"
    "#else\n"
    "#define ZEF_ALIGN(bytes)\n"
    "#endif\n"
    "#endif\n"
    "#ifndef ZEF_SECTION\n"
    "#if defined(__GNUC__) || defined(__clang__)\n"
    "#define ZEF_SECTION(name) __attribute__((section(name)))\n"
    "#else\n"
    "#define ZEF_SECTION(name)\n"
    "#endif\n"
    "#endif\n";

bool WriteData(const std::string& fileName, const char* data, size_t size) {
  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  file.write(data, std::streamsize(size));
  file.close();
  return bool(file);
}

// The file written under its temporary name, one of `outputs`.
bool Prepare(const std::string& destination, const char* data, size_t size, PendingFiles& outputs,
             std::string* error) {
  const PendingFile* file = outputs.Add(destination, error);
  if (file == nullptr) return false;
  if (!WriteData(file->TemporaryPath(), data, size)) {
    *error = destination + ": cannot write it";
    return false;
  }
  return true;
}

}  // namespace

std::string SymbolFault(const std::string& symbol) {
  if (symbol.empty() || IsDigit(symbol.front()) ||
      !std::all_of(symbol.begin(), symbol.end(), IsIdentifierCharacter)) {
    return "must be a C identifier: letters, digits and '_', not starting with a digit";
  }
  if (IsReservedName(symbol)) {
    return "must not be a C or C++ keyword, main, or a name that C reserves or its standard headers define";
  }
  return {};
}

std::string AlignmentFault(uint32_t alignment) {
  if (alignment == 0 || alignment > kLargestEmbedAlignment || (alignment & (alignment - 1)) != 0) {
    return "must be a power of two from 1 to " + std::to_string(kLargestEmbedAlignment);
  }
  return {};
}

std::string SectionFault(const std::string& section) {
  if (section.empty()) return "must not be empty";
  // What assemblers take as a section name without quoting.
  for (const char c : section) {
    if (!IsIdentifierCharacter(c) && c != '.' && c != '$') {
      return "must be made of letters, digits, '_', '.' and '$'";
    }
  }
  return {};
}

std::string EmbedSource(const std::vector<uint8_t>& bytes, const EmbedOptions& options,
                        const std::string& symbol) {
  const std::string size = std::to_string(bytes.size());
  std::string text = "/* " + FileName(options.archive) + " as a C array of " + size +
                     " bytes, written by zef embed. */\n"
                     "#include <stddef.h>\n#include <stdint.h>\n\n";
  text += kAttributeMacros;
  text += "\nZEF_ALIGN(" + std::to_string(options.alignment) + ")";
  if (!options.section.empty()) text += " ZEF_SECTION(\"" + options.section + "\")";
  text += "\nconst uint8_t " + symbol + "[" + size + "] = {\n";
  text += ByteLines(bytes);
  text += "};\nconst size_t " + symbol + "_size = " + size + ";\n";
  return text;
}

std::string EmbedHeader(uint64_t size, const EmbedOptions& options, const std::string& symbol) {
  const std::string sizeMacro = UpperCase(symbol) + "_SIZE";
  const std::string guard = IncludeGuard(options.headerFile, {sizeMacro});
  const bool binary = options.format == EmbedFormat::kBinary;
  std::string text = "/* " + FileName(options.archive) + " as " +
                     (binary ? "the bytes of " + symbol + ", which the program defines itself"
                             : symbol + " and " + symbol + "_size") +
                     ", written by zef embed. */\n";
  text += "#ifndef " + guard + "\n#define " + guard + "\n\n#include <stddef.h>\n#include <stdint.h>\n\n";
  text += "#define " + sizeMacro + " " + std::to_string(size) + "\n\n";
  text += "#ifdef __cplusplus\nextern \"C\" {\n#endif\n\n";
  text += "extern const uint8_t " + symbol + "[" + sizeMacro + "];\n";
  if (!binary) text += "extern const size_t " + symbol + "_size;\n";
  text += "\n#ifdef __cplusplus\n}\n#endif\n\n#endif /* " + guard + " */\n";
  return text;
}

int RunEmbed(const EmbedOptions& options, std::ostream& out, std::ostream& err) {
  for (const std::string& output : {options.outputFile, options.headerFile}) {
    if (!output.empty() && Destination(output).Replaces(options.archive)) {
      err << kProgram << options.archive << ": the output would replace the archive\n";
      return kExitFailed;
    }
  }
  if (!options.outputFile.empty() && !options.headerFile.empty() &&
      Destination(options.headerFile).Replaces(options.outputFile)) {
    err << kProgram << options.headerFile << ": the header would replace the output\n";
    return kExitFailed;
  }
  std::string error;
  std::vector<uint8_t> bytes;
  if (!OpenArchiveFile(options.archive, false, &error, &bytes)) {
    err << kProgram << error << "\n";
    return kExitFailed;
  }
  const std::string symbol =
      options.symbol.empty() ? SymbolName(std::filesystem::path(options.archive).stem().string())
                             : options.symbol;
  const bool binary = options.format == EmbedFormat::kBinary;
  std::string source;
  if (!binary) source = EmbedSource(bytes, options, symbol);
  const char* data = binary ? reinterpret_cast<const char*>(bytes.data()) : source.data();
  const size_t size = binary ? bytes.size() : source.size();

  const std::string headerText =
      options.headerFile.empty() ? std::string() : EmbedHeader(bytes.size(), options, symbol);
  PendingFiles outputs;
  if ((!options.outputFile.empty() && !Prepare(options.outputFile, data, size, outputs, &error)) ||
      (!options.headerFile.empty() &&
       !Prepare(options.headerFile, headerText.data(), headerText.size(), outputs, &error))) {
    err << kProgram << error << "\n";
    return kExitFailed;
  }
  // Standard output is one more output: written before any file takes its
  // name, so that a failed write leaves every file as it was (main says why).
  if (options.outputFile.empty()) {
    out.write(data, std::streamsize(size));
    out.flush();
    if (!out) return kExitFailed;
  }
  if (!outputs.CommitAll(&error)) {
    err << kProgram << error << "\n";
    return kExitFailed;
  }
  return kExitDone;
}

}  // namespace zef::tool
