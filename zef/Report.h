// What `zef pack` tells about its work: the JSON report, the summary line
// and the C header of image numbers.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "zef/Pack.h"

namespace zef::tool {

// Per image and in total. JSON has no infinity: the PSNR of an image whose
// visible pixels are unchanged is null, and so is a composite PSNR without
// error. composite_psnr (per image and pooled over the set in totals)
// measures the archive as decoded, for every version alike.
nlohmann::json ReportJson(const PackResult& result);

// One line, without its line feed.
std::string SummaryLine(const PackResult& result);

// Upper case, every character but letters, digits and '_' as '_'.
std::string MakeIdentifier(const std::string& text);

// `#define <PREFIX>_<NAME> <number>` per image, names from the file stems.
// Two images whose names come out alike get `_2`, `_3`, ... appended to the
// later ones; *renamed then gets a line for each. A name that would start
// with a digit gets `ZEF_` in front.
std::string HeaderText(const PackResult& result, const std::string& headerFile,
                       const std::string& prefix, std::vector<std::string>* renamed);

}  // namespace zef::tool
