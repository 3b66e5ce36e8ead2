#include "zef/Report.h"

#include "zef/CText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "archive/ArchiveId.h"
#include "archive/ZefFormat.h"

namespace zef::tool {

namespace {

constexpr double kBytesPerKilobyte = 1024.0;

bool Finite(double psnr) { return std::isfinite(psnr); }

nlohmann::json PsnrJson(double psnr) { return Finite(psnr) ? nlohmann::json(psnr) : nlohmann::json(); }

uint64_t SourceBytes(const PackResult& result) {
  uint64_t total = 0;
  for (const PackedImage& image : result.images) total += image.sourceBytes;
  return total;
}

}  // namespace

std::string ArchiveIdText(uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08Xu", unsigned(id));
  return text;
}

uint32_t PackedArchiveId(const PackResult& result) {
  // Version 3 stores 2 or 4 alpha values in one or two bits.
  const uint8_t alphaBits = result.version == kVersion4 ? 8
                            : result.alphaValues == 0    ? 0
                            : result.alphaValues == 2    ? 1
                                                         : 2;
  std::vector<zef::ImageShape> shapes;
  for (const PackedImage& image : result.images) {
    shapes.push_back({uint32_t(image.width), uint32_t(image.height), alphaBits});
  }
  return zef::ArchiveId(uint32_t(result.startIndex), shapes);
}

nlohmann::json ReportJson(const PackResult& result) {
  nlohmann::json images = nlohmann::json::array();
  int reduced = 0;
  std::optional<double> worst, worstComposite;
  for (const PackedImage& image : result.images) {
    images.push_back({{"file", image.file},
                      {"mask", image.mask.empty() ? nlohmann::json() : nlohmann::json(image.mask)},
                      {"number", image.number},
                      {"width", image.width},
                      {"height", image.height},
                      {"colors_before", image.coloursBefore},
                      {"colors_after", image.coloursAfter},
                      {"reduced", image.reduced},
                      {"psnr", Finite(image.psnr) ? nlohmann::json(image.psnr) : nlohmann::json()},
                      {"bytes", image.archiveBytes},
                      {"source_bytes", image.sourceBytes},
                      {"composite_psnr", PsnrJson(image.composite.Psnr())}});
    reduced += image.reduced ? 1 : 0;
    if (Finite(image.psnr) && (!worst || image.psnr < *worst)) worst = image.psnr;
    const double composite = image.composite.Psnr();
    if (Finite(composite) && (!worstComposite || composite < *worstComposite)) worstComposite = composite;
  }
  return {{"archive", result.archive},
          {"version", result.version},
          {"quality", result.version == kVersion4 ? nlohmann::json(result.quality) : nlohmann::json()},
          {"target", result.greyBits != 0 ? nlohmann::json("gray:" + std::to_string(result.greyBits)) : nlohmann::json()},
          {"start_index", result.startIndex},
          {"alpha_values", result.alphaValues},
          {"images", std::move(images)},
          {"totals",
           {{"images", result.images.size()},
            {"reduced", reduced},
            {"worst_psnr", worst ? nlohmann::json(*worst) : nlohmann::json()},
            {"source_bytes", SourceBytes(result)},
            {"archive_bytes", result.archiveBytes},
            {"composite_psnr", PsnrJson(result.composite.Psnr())},
            {"worst_composite_psnr", worstComposite ? nlohmann::json(*worstComposite) : nlohmann::json()}}}};
}

std::string SummaryLine(const PackResult& result) {
  int reduced = 0;
  std::optional<double> worst;
  for (const PackedImage& image : result.images) {
    reduced += image.reduced ? 1 : 0;
    if (Finite(image.psnr) && (!worst || image.psnr < *worst)) worst = image.psnr;
  }
  char line[512];
  std::snprintf(line, sizeof line, "packed %zu image%s (%d reduced) into %s: %.1f KB from %.1f KB",
                result.images.size(), result.images.size() == 1 ? "" : "s", reduced,
                result.archive.c_str(), double(result.archiveBytes) / kBytesPerKilobyte,
                double(SourceBytes(result)) / kBytesPerKilobyte);
  std::string text = line;
  if (worst) {
    std::snprintf(line, sizeof line, ", lowest PSNR %.1f dB", *worst);
    text += line;
  }
  const double composite = result.composite.Psnr();
  if (Finite(composite)) {
    std::snprintf(line, sizeof line, ", composite PSNR %.1f dB (version %d)", composite, result.version);
  } else {
    std::snprintf(line, sizeof line, ", composite PSNR inf (version %d)", result.version);
  }
  return text + line;
}

std::string HeaderText(const PackResult& result, const std::string& headerFile,
                       const std::string& prefix, std::vector<std::string>* renamed) {
  const std::set<std::string> suffixes = {"", "_NUMBER", "_WIDTH", "_HEIGHT"};
  const std::string lead = prefix.empty() ? "" : MacroName(prefix) + "_";
  // Taken first, so that no image's name can take it.
  const std::string idName = MacroName(lead + "ARCHIVE_ID");
  std::set<std::string> taken = {idName};
  std::string defines = "#define " + idName + " " + ArchiveIdText(PackedArchiveId(result)) + "\n\n";
  std::map<std::string, int> next;
  for (size_t position = 0; position < result.images.size(); ++position) {
    const PackedImage& image = result.images[position];
    std::string wanted = MacroName(lead + std::filesystem::path(image.file).stem().string());
    const auto reserved = [&wanted](const std::string& suffix) { return IsReservedName(wanted + suffix); };
    if (std::any_of(suffixes.begin(), suffixes.end(), reserved)) wanted = "ZEF_" + wanted;
    const std::string name = UniqueName(wanted, suffixes, taken, next);
    if (name != wanted && renamed) {
      renamed->push_back(image.file + ": named " + name + " in the header, " + wanted + " is taken");
    }
    const auto define = [&defines](const std::string& macro, int64_t value) {
      defines += "#define " + macro + " " + std::to_string(value) + "\n";
    };
    if (position > 0) defines += "\n";
    define(name, int64_t(position));
    define(name + "_NUMBER", image.number);
    define(name + "_WIDTH", image.width);
    define(name + "_HEIGHT", image.height);
  }
  const std::string guard = IncludeGuard(headerFile, taken);
  return "// Images in " + CommentText(std::filesystem::path(result.archive).filename().string()) +
         ", written by zef pack: each one's position\n"
         "// (what the device decoder takes), number, width and height, and the\n"
         "// archive id that zefdec_archive_id gives for an archive that fits them.\n#ifndef " +
         guard + "\n#define " + guard + "\n\n" + defines + "\n#endif  // " + guard + "\n";
}

}  // namespace zef::tool
