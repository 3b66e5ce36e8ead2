#include "zef/Report.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>

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

std::string DigitSafe(std::string name) {
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name.front()))) name = "ZEF_" + name;
  return name;
}

}  // namespace

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

std::string MakeIdentifier(const std::string& text) {
  std::string identifier = text;
  for (char& c : identifier) {
    const auto byte = static_cast<unsigned char>(c);
    c = std::isalnum(byte) && byte < 128 ? char(std::toupper(byte)) : '_';
  }
  return identifier;
}

std::string HeaderText(const PackResult& result, const std::string& headerFile,
                       const std::string& prefix, std::vector<std::string>* renamed) {
  const std::string guard =
      DigitSafe(MakeIdentifier(std::filesystem::path(headerFile).filename().string()));
  std::string text = "// Image numbers in " +
                     std::filesystem::path(result.archive).filename().string() +
                     ", written by zef pack.\n#ifndef " + guard + "\n#define " + guard + "\n\n";
  const std::string lead = prefix.empty() ? "" : MakeIdentifier(prefix) + "_";
  std::set<std::string> taken;
  for (const PackedImage& image : result.images) {
    const std::string wanted =
        DigitSafe(lead + MakeIdentifier(std::filesystem::path(image.file).stem().string()));
    std::string name = wanted;
    for (int n = 2; taken.count(name) != 0; ++n) name = wanted + "_" + std::to_string(n);
    if (name != wanted && renamed) {
      renamed->push_back(image.file + ": named " + name + " in the header, " + wanted +
                         " is taken");
    }
    taken.insert(name);
    text += "#define " + name + " " + std::to_string(image.number) + "\n";
  }
  text += "\n#endif  // " + guard + "\n";
  return text;
}

}  // namespace zef::tool
