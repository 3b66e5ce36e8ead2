// `zef pack --report html`: one page to look at, every image's source
// beside what the archive shows and a map of where they differ. The page
// stands alone: pictures are inline PNGs, the style is inline, there is
// no script, and it fetches nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zef/Archive.h"
#include "zef/Pack.h"

namespace zef::tool {

// The page for a pack, from its figures, its sources and the archive as
// `zef extract` decodes it. Images with the lowest PSNR come first, then
// those whose visible pixels came through unchanged, by number. Pictures
// are encoded on up to `jobs` threads (0: one per core).
// No value, with the cause in *error, when a picture cannot be encoded or
// the archive does not hold the images the pack wrote.
std::optional<std::string> HtmlPage(const PackResult& result,
                                    const std::vector<SourcePicture>& sources,
                                    const ArchiveContent& archive, int jobs, std::string* error);

}  // namespace zef::tool
