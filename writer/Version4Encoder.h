// The version 4 writer: images as normalised indexed images, each coded
// into its block (palette and lines), then the archive front to back.
#pragma once

#include <vector>

#include "writer/ArchiveEncoder.h"

namespace zef {

// BGR images and masks (checked already) with their exact palettes.
Status EncodeViewsV4(const EncoderSettings& settings, const std::vector<ImageView>& images,
                     const std::vector<MaskView>& masks, ArchiveSink& sink);

}  // namespace zef
