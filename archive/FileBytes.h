// The whole content of a file, read in one go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zef {

// Whether the first bytes of an input already decide everything a reader of
// it will say, so that the rest need not be read.
using PrefixDecides = bool (*)(const uint8_t* bytes, size_t size);

// No value when the file cannot be opened. A read error ends the content
// where it happened, as it would end a stream's data. Throws std::bad_alloc
// when the file does not fit in memory.
//
// A regular file is read whole. Anything else (a pipe, a device) may never
// end, so it is read in steps: the content ends after `limit` bytes, or as
// soon as `decides` (when given) says the bytes so far are enough.
std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& fileName,
                                                  uint64_t limit = UINT64_MAX,
                                                  PrefixDecides decides = nullptr);

// The bytes of an archive file, as every reader takes them: a pipe or
// device is read only while it can still be an archive (its signature and
// version), and never past the largest archive.
std::optional<std::vector<uint8_t>> ReadArchiveBytes(const std::string& fileName);

enum class FileRead { kRead, kNotRegular, kUnreadable };

// A regular file (links followed), read whole. Anything else is not read
// at all: a pipe would block, a device might never end, and a name with a
// NUL byte would open its part before the NUL, which is another file; each
// of these gives kNotRegular, as does a missing file. kUnreadable: a
// regular file that cannot be opened. *fileSize, when given, takes the
// size the file had when opened. Throws std::bad_alloc when the file does
// not fit in memory.
FileRead ReadRegularFile(const std::string& fileName, std::vector<uint8_t>& bytes,
                         uint64_t* fileSize = nullptr);

}  // namespace zef
