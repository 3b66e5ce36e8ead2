// `zef embed`: an archive turned into something a firmware's linker takes,
// a C99 array or the bytes as they are, with a header that declares them.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace zef::tool {

enum class EmbedFormat { kC, kBinary };

struct EmbedOptions {
  std::string archive;
  std::string outputFile;  // empty: standard output
  std::string headerFile;  // empty: none
  std::string symbol;      // empty: from the archive's stem
  uint32_t alignment = 4;
  std::string section;  // empty: the compiler's choice
  EmbedFormat format = EmbedFormat::kC;
  bool lvgl = false;       // also one lv_image_dsc_t per image, for lv_zef
  std::string namesFile;   // with lvgl: the header of `zef pack --header` that names them
};

// An image as `--lvgl` declares it.
struct LvglImage {
  std::string name;
  uint32_t position = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

inline constexpr uint32_t kLargestEmbedAlignment = 65536;

// Why `symbol`, `alignment` or `section` cannot go into the output; empty
// when they can.
std::string SymbolFault(const std::string& symbol);
std::string AlignmentFault(uint32_t alignment);
std::string SectionFault(const std::string& section);

// The C99 source that defines `<symbol>` and `<symbol>_size` for `bytes`.
std::string EmbedSource(const std::vector<uint8_t>& bytes, const EmbedOptions& options,
                        const std::string& symbol,
                        const std::vector<LvglImage>& images = {});
// The header that declares them (the size only as a macro for the binary
// format, whose array the user's own assembler or compiler defines), and
// defines `<SYMBOL>_ARCHIVE_ID` as `zef pack --header` does.
std::string EmbedHeader(uint64_t size, uint32_t archiveId, const EmbedOptions& options,
                        const std::string& symbol, const std::vector<LvglImage>& images = {});

// The images of an archive of `sizes` (width, height per position) under
// the names of `*namesText`, a header of `zef pack --header` (each position
// macro in lower case), or `<symbol>_<position>` when it is null. Empty,
// with the cause in *error, when the header does not describe the archive
// or a name cannot stand beside the array's.
std::vector<LvglImage> LvglImages(const std::vector<std::pair<uint32_t, uint32_t>>& sizes,
                                  const std::string* namesText, const std::string& symbol,
                                  std::string* error);

// Checks the archive with the reader and writes the outputs, each whole or
// not at all. Returns the exit code; messages go to `err`.
int RunEmbed(const EmbedOptions& options, std::ostream& out, std::ostream& err);

}  // namespace zef::tool
