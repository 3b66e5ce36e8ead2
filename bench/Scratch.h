// A private temporary folder for the files the benchmarks write; removed
// when the program ends.
#pragma once

#include <string>

namespace zefbench {

// Path of a file (or folder) named `name` inside the scratch folder.
std::string ScratchPath(const std::string& name);

}  // namespace zefbench
