// What `zef pack` tells about its work: the JSON report, the summary line
// and the C header of image positions, numbers and sizes.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "zef/Pack.h"

namespace zef::tool {

// Per image and in total. JSON has no infinity: the PSNR of an image whose
// visible pixels are unchanged is null, and so is a composite PSNR without
// error. composite_psnr (per image and pooled over the set in totals)
// measures the archive as decoded, for every version alike, against the
// luma for a grey target ("target": "gray:N", else null).
nlohmann::json ReportJson(const PackResult& result);

// The id of the archive the result describes (archive/ArchiveId.h), and
// as the headers write it: "0x%08Xu".
uint32_t PackedArchiveId(const PackResult& result);
std::string ArchiveIdText(uint32_t id);

// One line, without its line feed.
std::string SummaryLine(const PackResult& result);

// Per image `#define <PREFIX>_<NAME> <position>`, with `_NUMBER` (start
// index + position), `_WIDTH` and `_HEIGHT` beside it, names from the file
// stems (see CText.h). An image whose names clash with an earlier one's
// gets `_2`, `_3`, ... on its name; *renamed then gets a line for each.
// `<PREFIX>_ARCHIVE_ID` comes first (see archive/ArchiveId.h), and no image
// takes its name. The include guard is chosen last, so that no image takes it.
std::string HeaderText(const PackResult& result, const std::string& headerFile,
                       const std::string& prefix, std::vector<std::string>* renamed);

}  // namespace zef::tool
