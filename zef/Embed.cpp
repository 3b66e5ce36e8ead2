#include "zef/Embed.h"

#include <algorithm>
#include <iterator>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string_view>

#include "archive/ArchiveId.h"
#include "zef/Archive.h"
#include "zef/Commands.h"
#include "zef/PendingFile.h"
#include "zef/CText.h"
#include "zef/Report.h"

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

uint32_t SummaryId(const ArchiveSummary& summary) {
  const uint8_t alphaBits = zef::ArchiveIdAlphaBits(summary.version, uint8_t(summary.alphaBits));
  std::vector<zef::ImageShape> shapes;
  for (const ArchiveImage& image : summary.images) shapes.push_back({image.width, image.height, alphaBits});
  return zef::ArchiveId(summary.startIndex, shapes);
}

std::string LowerCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return text;
}

// The archive as lv_zef shares it among its images, one source per image
// and each image's descriptor under its name.
std::string LvglDefinitions(const std::vector<LvglImage>& images, const std::string& symbol,
                            const std::string& size) {
  const std::string archive = symbol + "_lv_zef";
  std::string text = "\nstatic lv_zef_archive_t " + archive + " = LV_ZEF_ARCHIVE_MEMORY(" + symbol + ", " +
                     size + ");\n";
  if (images.empty()) return text;
  text += "static const lv_zef_source_t " + archive + "_sources[" + std::to_string(images.size()) + "] = {\n";
  for (const LvglImage& image : images) {
    text += "    {LV_ZEF_SOURCE_MAGIC, &" + archive + ", " + std::to_string(image.position) + "},\n";
  }
  text += "};\n";
  for (size_t n = 0; n < images.size(); ++n) {
    const LvglImage& image = images[n];
    text += "const lv_image_dsc_t " + image.name + " = LV_ZEF_IMAGE_DSC(&" + archive + "_sources[" +
            std::to_string(n) + "], " + std::to_string(image.width) + ", " + std::to_string(image.height) +
            ");\n";
  }
  return text;
}

}  // namespace

std::vector<LvglImage> LvglImages(const std::vector<std::pair<uint32_t, uint32_t>>& sizes,
                                  const std::string* namesText, const std::string& symbol,
                                  std::string* error) {
  std::vector<LvglImage> images;
  if (namesText == nullptr) {
    for (uint32_t n = 0; n < sizes.size(); ++n) {
      images.push_back({symbol + "_" + std::to_string(n), n, sizes[n].first, sizes[n].second});
    }
  } else {
    // zef pack writes NAME (the position), NAME_NUMBER, NAME_WIDTH and
    // NAME_HEIGHT for each image; a NAME with all three is an image.
    std::map<std::string, uint64_t> defines;
    const std::regex define("^#define ([A-Za-z_][A-Za-z0-9_]*) ([0-9]{1,10})$");
    std::istringstream lines(*namesText);
    std::string line;
    std::vector<std::string> order;
    while (std::getline(lines, line)) {
      std::smatch match;
      if (!std::regex_match(line, match, define)) continue;
      defines[match[1].str()] = std::stoull(match[2].str());
      order.push_back(match[1].str());
    }
    for (const std::string& macro : order) {
      const auto width = defines.find(macro + "_WIDTH");
      const auto height = defines.find(macro + "_HEIGHT");
      if (defines.count(macro + "_NUMBER") == 0 || width == defines.end() || height == defines.end()) continue;
      const uint64_t position = defines[macro];
      if (position >= sizes.size() || sizes[position].first != width->second ||
          sizes[position].second != height->second) {
        *error = macro + " is not an image of this archive: give the header zef pack wrote with it";
        return {};
      }
      images.push_back({LowerCase(macro), uint32_t(position), sizes[position].first, sizes[position].second});
    }
    if (images.empty()) {
      *error = "it names no image: give the header zef pack --header wrote";
      return {};
    }
  }
  // The array's own names, those of the archive and its sources, and LVGL's.
  std::set<std::string> taken = {symbol, symbol + "_size", symbol + "_lv_zef", symbol + "_lv_zef_sources"};
  for (const LvglImage& image : images) {
    if (!SymbolFault(image.name).empty() || image.name.rfind("lv_", 0) == 0 || !taken.insert(image.name).second) {
      *error = "the image name " + image.name + " cannot stand beside " + symbol + " and LVGL's names";
      return {};
    }
  }
  return images;
}

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
                        const std::string& symbol, const std::vector<LvglImage>& images) {
  const std::string size = std::to_string(bytes.size());
  std::string text = "/* " + FileName(options.archive) + " as a C array of " + size +
                     " bytes, written by zef embed. */\n"
                     "#include <stddef.h>\n#include <stdint.h>\n";
  if (options.lvgl) text += "#include \"lv_zef.h\"\n";
  text += "\n";
  text += kAttributeMacros;
  text += "\nZEF_ALIGN(" + std::to_string(options.alignment) + ")";
  if (!options.section.empty()) text += " ZEF_SECTION(\"" + options.section + "\")";
  text += "\nconst uint8_t " + symbol + "[" + size + "] = {\n";
  text += ByteLines(bytes);
  text += "};\nconst size_t " + symbol + "_size = " + size + ";\n";
  if (options.lvgl) text += LvglDefinitions(images, symbol, size);
  return text;
}

std::string EmbedHeader(uint64_t size, uint32_t archiveId, const EmbedOptions& options,
                        const std::string& symbol, const std::vector<LvglImage>& images) {
  const std::string sizeMacro = UpperCase(symbol) + "_SIZE", idMacro = UpperCase(symbol) + "_ARCHIVE_ID";
  const std::string guard = IncludeGuard(options.headerFile, {sizeMacro, idMacro});
  const bool binary = options.format == EmbedFormat::kBinary;
  std::string text = "/* " + FileName(options.archive) + " as " +
                     (binary ? "the bytes of " + symbol + ", which the program defines itself"
                             : symbol + " and " + symbol + "_size") +
                     ", written by zef embed. */\n";
  text += "#ifndef " + guard + "\n#define " + guard + "\n\n#include <stddef.h>\n#include <stdint.h>\n";
  if (options.lvgl) text += "#include \"lv_zef.h\"\n";
  text += "\n";
  // With the image descriptors the header is included by the GUI's code,
  // so it names the size by the constant beside the array: new pixels then
  // change no header that code includes.
  text += "#define " + sizeMacro + " " + (options.lvgl ? symbol + "_size" : std::to_string(size)) + "\n";
  // As `zef pack --header` writes it, so that both headers may be included.
  text += "#define " + idMacro + " " + ArchiveIdText(archiveId) + "\n\n";
  text += "#ifdef __cplusplus\nextern \"C\" {\n#endif\n\n";
  text += "extern const uint8_t " + symbol + "[" + (options.lvgl ? std::string() : sizeMacro) + "];\n";
  if (!binary) text += "extern const size_t " + symbol + "_size;\n";
  for (const LvglImage& image : images) text += "extern const lv_image_dsc_t " + image.name + ";\n";
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
  const std::optional<ArchiveContent> content = OpenArchiveFile(options.archive, false, &error, &bytes);
  if (!content) {
    err << kProgram << error << "\n";
    return kExitFailed;
  }
  const std::string symbol =
      options.symbol.empty() ? SymbolName(std::filesystem::path(options.archive).stem().string())
                             : options.symbol;
  std::vector<LvglImage> images;
  if (options.lvgl) {
    std::string names;
    if (!options.namesFile.empty()) {
      std::ifstream file(options.namesFile, std::ios::binary);
      std::ostringstream text;
      if (file.is_open()) text << file.rdbuf();
      if (!file.is_open() || file.bad()) {
        err << kProgram << options.namesFile << ": cannot read it\n";
        return kExitFailed;
      }
      names = text.str();
    }
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
    for (const ArchiveImage& image : content->summary.images) sizes.emplace_back(image.width, image.height);
    images = LvglImages(sizes, options.namesFile.empty() ? nullptr : &names, symbol, &error);
    if (images.empty()) {
      err << kProgram << (options.namesFile.empty() ? options.archive : options.namesFile) << ": " << error
          << "\n";
      return kExitFailed;
    }
  }
  const bool binary = options.format == EmbedFormat::kBinary;
  std::string source;
  if (!binary) source = EmbedSource(bytes, options, symbol, images);
  const char* data = binary ? reinterpret_cast<const char*>(bytes.data()) : source.data();
  const size_t size = binary ? bytes.size() : source.size();

  const std::string headerText =
      options.headerFile.empty() ? std::string()
                                 : EmbedHeader(bytes.size(), SummaryId(content->summary), options, symbol, images);
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
