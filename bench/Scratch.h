// A private temporary folder for the files the benchmarks write; removed
// when the program ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zefbench {

// Path of a file (or folder) named `name` inside the scratch folder.
std::string ScratchPath(const std::string& name);

std::vector<uint8_t> ReadWholeFile(const std::string& path);

}  // namespace zefbench
