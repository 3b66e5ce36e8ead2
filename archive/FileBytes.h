// The whole content of a file, read in one go.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zef {

// No value when the file cannot be opened. A read error ends the content
// where it happened, as it would end a stream's data. Throws std::bad_alloc
// when the file does not fit in memory.
std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& fileName);

}  // namespace zef
