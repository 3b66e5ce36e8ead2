#include "zef/Pack.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <new>

#include "archive/FileBytes.h"
#include "quantize/Quantize.h"
#include "quantize/ReduceGrey.h"
#include "quantize/ReduceRgba.h"
#include "writer/MatChecks.h"
#include "writer/ZefEncode.h"
#include "writer/ZefImgWriter.h"
#include "zef/Archive.h"
#include "zef/Inputs.h"
#include "zef/Parallel.h"
#include "zef/PendingFile.h"
#include "zef/Picture.h"
#include "zef/Progress.h"
#include "zef/Report.h"

namespace zef::tool {

namespace {

constexpr int kConsoleToolMaskedColours = 64;
constexpr int kMostColours = 256;
constexpr uint8_t kOpaque = 255;
// Version 4 stores 8-bit alpha: 256 values.
constexpr int kVersion4AlphaValues = 256;

// One image on its way into the archive; filled by index from any thread.
struct Work {
  InputItem item;
  Picture picture;
  cv::Mat alpha;  // the mask file or the picture's own alpha channel
  cv::Mat sourceAlpha;  // the same, kept as loaded for a look at the result
  cv::Mat result;                        // version 3: colours on the stored levels
  std::optional<quantize::RgbaResult> indexed;  // version 4
  PackedImage packed;
  std::string error;  // empty: fine so far
};

void Load(Work& work) {
  std::optional<Picture> picture = LoadPicture(work.item.image, &work.error);
  if (!picture) return;
  work.picture = std::move(*picture);
  work.alpha = work.picture.alpha;
  work.packed.sourceBytes = work.picture.fileBytes;
  if (work.item.mask.empty()) return;
  uint64_t maskBytes = 0;
  std::optional<cv::Mat> mask = LoadMask(work.item.mask, &work.error, &maskBytes);
  if (!mask) return;
  if (mask->size() != work.picture.bgr.size()) {
    work.error = work.item.mask + ": the mask is " + std::to_string(mask->cols) + " x " +
                 std::to_string(mask->rows) + ", its image " + work.item.image + " is " +
                 std::to_string(work.picture.bgr.cols) + " x " +
                 std::to_string(work.picture.bgr.rows);
    return;
  }
  work.alpha = *mask;
  work.packed.sourceBytes += maskBytes;
}

struct Reduction {
  int cap = 256;
  bool exact = false;
  quantize::ReduceOptions options;
  std::optional<quantize::RgbaOptions> rgba;  // version 4
  std::optional<quantize::GreyOptions> grey;  // version 4 of grey levels
};

// The mask byte whose top bits the writer stores as the alpha code nearest
// to `alpha` (the writer keeps mask >> 6 for four values, mask >> 7 for
// two): the alpha a decoder shows for that code, so that the palette
// search weighs each pixel by what will show.
uint8_t NearestCodeMask(uint8_t alpha, int alphaValues) {
  if (alphaValues < 2) return alpha;
  const int top = alphaValues - 1;
  const int code = (alpha * top + kOpaque / 2) / kOpaque;
  return quantize::ShownAlpha(uint8_t(code), alphaValues);
}

// --colors exact: an image that had to be reduced fails the pack.
bool RefusedAsExact(Work& work, const Reduction& reduction, bool reduced, int coloursBefore) {
  if (!reduction.exact || !reduced) return false;
  work.error = work.item.image + ": " + std::to_string(coloursBefore) + " colours, but a palette holds " +
               std::to_string(reduction.cap) + " (--colors exact)";
  return true;
}

void ReduceRgba(Work& work, const Reduction& reduction) {
  std::optional<quantize::RgbaResult> result =
      reduction.grey ? quantize::ReduceGrey(work.picture.bgr, work.alpha, *reduction.grey)
                     : quantize::ReduceRgba(work.picture.bgr, work.alpha, *reduction.rgba);
  if (!result) {
    work.error = work.item.image + ": the colours cannot be reduced (out of memory)";
    return;
  }
  if (RefusedAsExact(work, reduction, result->reduced, result->colorsBefore)) return;
  PackedImage& packed = work.packed;
  packed.coloursBefore = result->colorsBefore;
  packed.coloursAfter = int(result->palette.size());
  packed.reduced = result->reduced;
  packed.psnr = result->error.Psnr();
  work.indexed = std::move(result);
}

void Reduce(Work& work, const Reduction& reduction) {
  const cv::Mat& alpha = work.alpha;
  try {
    if (reduction.rgba) {
      ReduceRgba(work, reduction);
      return;
    }
    std::optional<quantize::ReduceResult> result =
        quantize::Reduce(work.picture.bgr, alpha, reduction.options);
    if (!result) {
      work.error = work.item.image + ": the colours cannot be reduced (out of memory)";
      return;
    }
    if (RefusedAsExact(work, reduction, result->reduced, result->colorsBefore)) return;
    PackedImage& packed = work.packed;
    packed.coloursBefore = result->colorsBefore;
    packed.coloursAfter = result->colorsAfter;
    packed.reduced = result->reduced;
    packed.psnr = result->psnr;
    work.result = std::move(result->bgr);
  } catch (const std::bad_alloc&) {
    work.error = work.item.image + ": out of memory";
  } catch (const cv::Exception& exception) {
    work.error = work.item.image + ": " + exception.err;
  }
}

// The first failure in input order, so that any number of threads reports
// the same one.
std::optional<std::string> FirstError(const std::vector<Work>& works) {
  for (const Work& work : works) {
    if (!work.error.empty()) return work.error;
  }
  return std::nullopt;
}

struct Plan {
  std::vector<InputItem> items;
  std::string outputFile;
  int32_t startIndex = 0;
  std::optional<int> alphaValues;
};

// What each image shows against its source, and in total, from the
// archive as `zef extract` decodes it.
// What a version 3 reader shows of an image as the writer takes it, with
// no need to decode the archive: each channel cut to its stored 4 bits
// (n * 16), and the alpha code of the mask's top bits as 8-bit alpha.
void ShownVersion3(const Work& work, int alphaValues, cv::Mat& bgr, cv::Mat& alpha) {
  cv::bitwise_and(work.result, cv::Scalar::all(0xF0), bgr);
  if (alphaValues == 0) {
    alpha.release();
    return;
  }
  const int shift = alphaValues == 2 ? 7 : 6;
  uint8_t table[256];
  for (int a = 0; a < 256; ++a) table[a] = quantize::ShownAlpha(uint8_t(a >> shift), alphaValues);
  cv::LUT(work.alpha, cv::Mat(1, 256, CV_8UC1, table), alpha);
}

// The composite error of each image as the archive will show it.
void MeasureComposite(std::vector<Work>& works, PackResult& result, int jobs) {
  ParallelFor(works.size(), jobs, [&](size_t n) {
    Work& work = works[n];
    if (work.indexed) {
      // Version 4 shows each pixel's entry as it is (the writer's merging of
      // entries with alpha 0 changes no composite).
      std::vector<cv::Vec4b> entries;
      for (const quantize::RgbaEntry& entry : work.indexed->palette) {
        entries.emplace_back(entry.blue, entry.green, entry.red, entry.alpha);
      }
      work.packed.composite =
          CompositeErrorOfIndexed(work.picture.bgr, work.sourceAlpha, entries, work.indexed->indices);
      return;
    }
    cv::Mat bgr, alpha;
    ShownVersion3(work, result.alphaValues, bgr, alpha);
    work.packed.composite = CompositeErrorOf(work.picture.bgr, work.sourceAlpha, bgr, alpha);
  });
  for (const Work& work : works) result.composite.Add(work.packed.composite);
}

// The version 4 archive of the reduced images.
// The reduced images' indices move into it.
bool EncodeVersion4(std::vector<Work>& works, const PackResult& result, std::vector<uint8_t>& bytes,
                    std::string* error) {
  std::vector<IndexedImage> images(works.size());
  for (size_t n = 0; n < works.size(); ++n) {
    quantize::RgbaResult& indexed = *works[n].indexed;
    IndexedImage& image = images[n];
    image.width = indexed.width;
    image.height = indexed.height;
    for (const quantize::RgbaEntry& entry : indexed.palette) {
      image.palette.push_back({entry.red, entry.green, entry.blue, entry.alpha});
    }
    image.indices = std::move(indexed.indices);
  }
  Options options;
  options.version = kVersion4;
  options.startIndex = result.startIndex;
  EncodeResult encoded = EncodeIndexed(images, options);
  if (!encoded.Ok()) {
    *error = result.archive + ": " + encoded.message;
    return false;
  }
  bytes = std::move(encoded.bytes);
  return true;
}

bool WriteBytes(const std::string& fileName, const std::vector<uint8_t>& bytes) {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  out.close();
  return bool(out);
}

std::optional<Plan> MakePlan(const PackOptions& options, std::string* error) {
  Plan plan;
  if (!options.scriptFile.empty()) {
    std::optional<Script> script = ReadScript(options.scriptFile, error);
    if (!script) return std::nullopt;
    plan.items = std::move(script->items);
    plan.outputFile = script->outputFileName;
    plan.startIndex = script->startIndex;
    plan.alphaValues = script->useMask ? script->alphaValues : 0;
  } else {
    std::optional<std::vector<InputItem>> items =
        CollectInputs(options.inputs, options.maskSuffix, error);
    if (!items) return std::nullopt;
    plan.items = std::move(*items);
  }
  if (!options.outputFile.empty()) plan.outputFile = options.outputFile;
  if (options.startIndex) plan.startIndex = *options.startIndex;
  if (options.alphaValues) plan.alphaValues = options.alphaValues;
  if (plan.outputFile.empty()) {
    *error = "no archive named (-o)";
    return std::nullopt;
  }
  // The renames at the end would replace a source before anyone noticed.
  const Destination archive(plan.outputFile);
  std::optional<Destination> header;
  if (!options.headerFile.empty()) header.emplace(options.headerFile);
  if (header && header->Replaces(plan.outputFile)) {
    *error = options.headerFile + ": the header would replace the archive";
    return std::nullopt;
  }
  std::vector<std::string> inputs = {options.scriptFile};
  for (const InputItem& item : plan.items) inputs.insert(inputs.end(), {item.image, item.mask});
  for (const std::string& input : inputs) {
    if (input.empty()) continue;
    const char* replacing = archive.Replaces(input)                ? "the archive"
                            : header && header->Replaces(input) ? "the header"
                                                                : nullptr;
    if (replacing != nullptr) {
      *error = input + ": " + replacing + " would replace this input";
      return std::nullopt;
    }
  }
  return plan;
}

bool WriteText(const std::string& fileName, const std::string& text) {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return bool(out);
}

std::string Stem(const std::string& fileName) {
  return std::filesystem::path(fileName).stem().string();
}

// Writes the archive and the header under their temporary names, fills in
// each image's share of the archive, and renames both at the end.
bool WriteVersion3(std::vector<Work>& works, const PackResult& result, const PendingFile& archive,
                   std::string* error) {
  ZefImgWriter writer;
  writer.SetVersion(kVersion3);
  writer.setAlpha(result.alphaValues);
  writer.SetStartIndex(result.startIndex);
  if (writer.HasError()) {
    *error = writer.GetError();
    return false;
  }
  std::vector<cv::Mat> images, masks;
  for (size_t n = 0; n < works.size(); ++n) {
    images.push_back(works[n].result);
    if (result.alphaValues > 0) masks.push_back(works[n].alpha);
    if (!writer.CheckImage(images.back(), result.alphaValues > 0 ? masks.back() : cv::Mat(), int(n))) {
      *error = works[n].item.image + ": " + writer.GetError();
      return false;
    }
  }
  if (!writer.Write(archive.TemporaryPath(), std::move(images), std::move(masks))) {
    *error = result.archive + ": " + writer.GetError();
    return false;
  }
  return true;
}

bool WriteOutputs(const PackOptions& options, std::vector<Work>& works, PackResult& result,
                  std::string* error) {
  PendingFiles outputs;
  const PendingFile* archive = outputs.Add(result.archive, error);
  if (archive == nullptr) return false;
  // Before the version 4 writer takes the indices.
  MeasureComposite(works, result, options.jobs);
  const bool v4 = result.version == kVersion4;
  std::optional<std::vector<uint8_t>> bytes;
  if (v4) {
    bytes.emplace();
    if (!EncodeVersion4(works, result, *bytes, error)) return false;
    if (!WriteBytes(archive->TemporaryPath(), *bytes)) {
      *error = result.archive + ": cannot write it";
      return false;
    }
  } else {
    if (!WriteVersion3(works, result, *archive, error)) return false;
    bytes = ReadFileBytes(archive->TemporaryPath());
    if (!bytes) {
      *error = result.archive + ": the written archive cannot be read back";
      return false;
    }
  }
  result.archiveBytes = bytes->size();
  // Decoded only for a check that looks at it.
  std::optional<ArchiveContent> content;
  if (options.checkDecoded) {
    content = OpenArchive(*bytes, true, error);
    if (!content || content->images.size() != works.size()) {
      *error = result.archive + ": the written archive cannot be decoded" +
               (content ? std::string() : " (" + *error + ")");
      return false;
    }
  }
  const std::vector<uint64_t> imageBytes =
      WrittenImageBytes(*bytes, uint32_t(works.size()), v4 ? kVersion4 : kVersion3);
  for (size_t n = 0; n < works.size(); ++n) {
    works[n].packed.archiveBytes = imageBytes[n];
    result.images.push_back(works[n].packed);
  }
  if (!options.headerFile.empty()) {
    const PendingFile* header = outputs.Add(options.headerFile, error);
    if (header == nullptr) return false;
    const std::string prefix = options.prefix ? *options.prefix : Stem(result.archive);
    if (!WriteText(header->TemporaryPath(),
                   HeaderText(result, options.headerFile, prefix, &result.notes))) {
      *error = options.headerFile + ": cannot write it";
      return false;
    }
  }
  if (options.beforeCommit) {
    std::vector<SourcePicture> sources;
    for (Work& work : works) sources.push_back({work.picture.bgr, work.sourceAlpha});
    if (!options.beforeCommit(WrittenArchive{result, *bytes, sources, content ? &*content : nullptr}, error)) {
      return false;
    }
  }
  return outputs.CommitAll(error);
}

}  // namespace

int PaletteCapacity(int alphaValues) {
  return alphaValues == 0 ? 256 : alphaValues == 2 ? 128 : 64;
}

std::optional<PackResult> Pack(const PackOptions& options, std::string* error) {
  try {
    std::optional<Plan> plan = MakePlan(options, error);
    if (!plan) return std::nullopt;
    std::vector<Work> works(plan->items.size());
    for (size_t n = 0; n < works.size(); ++n) works[n].item = plan->items[n];
    {
      Progress progress("loading", works.size(), options.progress);
      ParallelFor(works.size(), options.jobs, [&](size_t n) {
        try {
          Load(works[n]);
          works[n].sourceAlpha = works[n].alpha;
          // What a grey display can show is measured against the luma.
          if (options.greyBits != 0 && works[n].error.empty()) {
            works[n].picture.bgr = quantize::GreyOf(works[n].picture.bgr);
          }
        } catch (const std::bad_alloc&) {
          works[n].error = works[n].item.image + ": out of memory";
        } catch (const cv::Exception& exception) {
          works[n].error = works[n].item.image + ": " + exception.err;
        }
        progress.Step();
      });
    }
    if (auto failure = FirstError(works)) {
      *error = *failure;
      return std::nullopt;
    }
    // What no archive version can hold is refused before any reducing,
    // naming the file, as the version 3 writer names it.
    for (size_t n = 0; n < works.size(); ++n) {
      const std::string fault = CheckMatImage(works[n].picture.bgr, cv::Mat(), int(n), 3);
      if (!fault.empty()) {
        *error = works[n].item.image + ": " + fault;
        return std::nullopt;
      }
    }

    PackResult result;
    result.archive = plan->outputFile;
    result.startIndex = plan->startIndex;
    const bool v4 = options.format == ArchiveFormat::kVersion4 || options.greyBits != 0;
    result.version = v4 ? kVersion4 : kVersion3;
    result.quality = options.quality;
    result.greyBits = options.greyBits;
    if (plan->alphaValues) {
      result.alphaValues = *plan->alphaValues;
    } else {
      const bool anyAlpha = std::any_of(works.begin(), works.end(), [](const Work& work) {
        return !work.item.mask.empty() || work.picture.translucent;
      });
      result.alphaValues = anyAlpha ? 4 : 0;
    }

    Reduction reduction;
    reduction.cap = options.compatible && result.alphaValues > 0 ? kConsoleToolMaskedColours
                                                                 : PaletteCapacity(result.alphaValues);
    if (options.colourLimit == ColourLimit::kCap) {
      reduction.cap = std::min(reduction.cap, options.colourCap);
    }
    reduction.exact = options.colourLimit == ColourLimit::kExact;
    reduction.options.maxColors = reduction.cap;
    reduction.options.levels = options.compatible ? quantize::Levels::kCut : quantize::Levels::kNearest;
    reduction.options.ditherStrength = options.ditherStrength;
    reduction.options.alphaValues = result.alphaValues;
    reduction.options.unifyInvisible = !options.compatible;
    if (v4) {
      reduction.cap = options.colourLimit == ColourLimit::kCap ? options.colourCap : kMostColours;
      reduction.rgba.emplace();
      reduction.rgba->maxColors = reduction.cap;
      reduction.rgba->quality = reduction.exact ? INFINITY : options.quality;
    }
    if (options.greyBits != 0) {
      reduction.grey.emplace();
      reduction.grey->bits = options.greyBits;
      reduction.grey->dither = options.orderedDither        ? quantize::GreyDither::kOrdered
                               : options.ditherStrength > 0 ? quantize::GreyDither::kFloydSteinberg
                                                            : quantize::GreyDither::kNone;
      if (options.ditherStrength > 0) reduction.grey->strength = options.ditherStrength;
      reduction.grey->quality = options.quality;
    }
    // Version 3 alpha codes: the console tool's cut, or the nearest code.
    const bool nearestCodes = !v4 && !options.compatible && result.alphaValues > 0;
    for (size_t n = 0; n < works.size(); ++n) {
      Work& work = works[n];
      if (result.alphaValues == 0) {
        work.alpha.release();
      } else if (v4) {
        // No mask is full alpha; the quantizer takes an empty one as such.
      } else if (work.alpha.empty()) {
        work.alpha = cv::Mat(work.picture.bgr.size(), CV_8UC1, cv::Scalar(kOpaque));
      } else if (nearestCodes) {
        cv::Mat nearest(work.alpha.size(), CV_8UC1);
        uint8_t table[256];
        for (int a = 0; a < 256; ++a) table[a] = NearestCodeMask(uint8_t(a), result.alphaValues);
        cv::LUT(work.alpha, cv::Mat(1, 256, CV_8UC1, table), nearest);
        work.alpha = nearest;
      }
      work.packed.file = work.item.image;
      work.packed.mask = work.item.mask;
      work.packed.number = int32_t(result.startIndex + int64_t(n));
      work.packed.width = work.picture.bgr.cols;
      work.packed.height = work.picture.bgr.rows;
    }
    {
      Progress progress("reducing", works.size(), options.progress);
      ParallelFor(works.size(), options.jobs, [&](size_t n) {
        Reduce(works[n], reduction);
        progress.Step();
      });
    }
    if (auto failure = FirstError(works)) {
      *error = *failure;
      return std::nullopt;
    }
    if (v4) result.alphaValues = kVersion4AlphaValues;
    if (!WriteOutputs(options, works, result, error)) return std::nullopt;
    return result;
  } catch (const std::bad_alloc&) {
    *error = "out of memory";
  } catch (const cv::Exception& exception) {
    *error = exception.err;
  }
  return std::nullopt;
}

}  // namespace zef::tool
