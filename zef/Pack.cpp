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
constexpr uint8_t kOpaque = 255;

// One image on its way into the archive; filled by index from any thread.
struct Work {
  InputItem item;
  Picture picture;
  cv::Mat alpha;  // the mask file or the picture's own alpha channel
  cv::Mat sourceAlpha;  // the same, kept as loaded for a look at the result
  cv::Mat result;
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
  bool keepSource = false;
  quantize::ReduceOptions options;
};

void Reduce(Work& work, const Reduction& reduction) {
  const cv::Mat& alpha = work.alpha;
  try {
    std::optional<quantize::ReduceResult> result =
        quantize::Reduce(work.picture.bgr, alpha, reduction.options);
    if (!result) {
      work.error = work.item.image + ": the colours cannot be reduced (out of memory)";
      return;
    }
    if (reduction.exact && result->reduced) {
      work.error = work.item.image + ": " + std::to_string(result->colorsBefore) +
                   " colours, but a palette holds " + std::to_string(reduction.cap) +
                   " (--colors exact)";
      return;
    }
    PackedImage& packed = work.packed;
    packed.coloursBefore = result->colorsBefore;
    packed.coloursAfter = result->colorsAfter;
    packed.reduced = result->reduced;
    packed.psnr = result->psnr;
    work.result = std::move(result->bgr);
    // The source is not needed past this point, unless someone is to look
    // at it; thousands of images in flight should not hold it twice.
    if (!reduction.keepSource) work.picture.bgr.release();
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
bool WriteOutputs(const PackOptions& options, std::vector<Work>& works, PackResult& result,
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
  PendingFiles outputs;
  const PendingFile* archive = outputs.Add(result.archive, error);
  if (archive == nullptr) return false;
  if (!writer.Write(archive->TemporaryPath(), std::move(images), std::move(masks))) {
    *error = result.archive + ": " + writer.GetError();
    return false;
  }
  const std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(archive->TemporaryPath());
  if (!bytes) {
    *error = result.archive + ": the written archive cannot be read back";
    return false;
  }
  result.archiveBytes = bytes->size();
  const std::vector<uint64_t> imageBytes = WrittenImageBytes(*bytes, uint32_t(works.size()));
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
    if (!options.beforeCommit(WrittenArchive{result, *bytes, sources}, error)) return false;
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
        } catch (const std::bad_alloc&) {
          works[n].error = works[n].item.image + ": out of memory";
        }
        progress.Step();
      });
    }
    if (auto failure = FirstError(works)) {
      *error = *failure;
      return std::nullopt;
    }

    PackResult result;
    result.archive = plan->outputFile;
    result.startIndex = plan->startIndex;
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
    reduction.keepSource = options.keepSources;
    reduction.options.maxColors = reduction.cap;
    reduction.options.levels = options.compatible ? quantize::Levels::kCut : quantize::Levels::kNearest;
    reduction.options.ditherStrength = options.ditherStrength;
    reduction.options.alphaValues = result.alphaValues;
    reduction.options.unifyInvisible = !options.compatible;
    for (size_t n = 0; n < works.size(); ++n) {
      Work& work = works[n];
      if (result.alphaValues == 0) {
        work.alpha.release();
      } else if (work.alpha.empty()) {
        work.alpha = cv::Mat(work.picture.bgr.size(), CV_8UC1, cv::Scalar(kOpaque));
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
