#include "zef/Commands.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <vector>

#include "zef/Archive.h"
#include "zef/HtmlReport.h"
#include "zef/PendingFile.h"
#include "zef/Report.h"

namespace zef::tool {

namespace {

const char* const kProgram = "zef: ";

nlohmann::json InfoJson(const std::string& archive, const ArchiveSummary& summary) {
  nlohmann::json images = nlohmann::json::array();
  for (const ArchiveImage& image : summary.images) {
    images.push_back({{"number", image.number},
                      {"width", image.width},
                      {"height", image.height},
                      {"palette_colors", image.paletteColours ? nlohmann::json(*image.paletteColours)
                                                              : nlohmann::json()},
                      {"bytes", image.dataBytes}});
  }
  return {{"archive", archive},
          {"version", summary.version},
          {"image_count", summary.images.size()},
          {"start_index", summary.startIndex},
          {"alpha_bits", summary.alphaBits},
          {"file_bytes", summary.fileBytes},
          {"images", std::move(images)}};
}

void PrintInfo(const std::string& archive, const ArchiveSummary& summary, std::ostream& out) {
  out << "archive:     " << archive << "\n"
      << "version:     " << summary.version << "\n"
      << "images:      " << summary.images.size() << "\n"
      << "start index: " << summary.startIndex << "\n"
      << "alpha bits:  " << summary.alphaBits << "\n"
      << "file size:   " << summary.fileBytes << " bytes\n\n"
      << "  number   width  height  colours     bytes\n";
  for (const ArchiveImage& image : summary.images) {
    out << std::setw(8) << image.number << std::setw(8) << image.width << std::setw(8)
        << image.height << std::setw(9)
        << (image.paletteColours ? std::to_string(*image.paletteColours) : "-") << std::setw(10)
        << image.dataBytes << "\n";
  }
}

bool WriteBytes(const std::string& fileName, const std::vector<uint8_t>& bytes) {
  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  file.close();
  return bool(file);
}

// One picture into the file at `path`.
bool WritePng(const std::string& path, const std::string& name, const DecodedImage& image,
              std::string* error) {
  cv::Mat picture = image.bgr;
  if (!image.alpha.empty()) {
    const cv::Mat planes[] = {image.bgr, image.alpha};
    const int fromTo[] = {0, 0, 1, 1, 2, 2, 3, 3};
    picture = cv::Mat(image.bgr.size(), CV_8UC4);
    cv::mixChannels(planes, 2, &picture, 1, fromTo, 4);
  }
  std::vector<uint8_t> png;
  if (!cv::imencode(".png", picture, png)) {
    *error = name + ": the image library cannot encode it";
    return false;
  }
  if (!WriteBytes(path, png)) {
    *error = name + ": cannot write it";
    return false;
  }
  return true;
}

}  // namespace

// Standard output is one more output of a run: written before any file
// takes its name, so that a failed write leaves every file as it was.
// False when it failed; main says why.
static bool WriteStandardOutput(std::ostream& out, const char* data, size_t size) {
  out.write(data, std::streamsize(size));
  out.flush();
  return bool(out);
}

int RunPack(const PackOptions& options, PackReport report, std::ostream& out, std::ostream& err) {
  std::string error;
  PackOptions settings = options;
  bool outputFailed = false;
  const auto print = [&out, &outputFailed](const std::string& text) {
    outputFailed = !WriteStandardOutput(out, text.data(), text.size());
    return !outputFailed;
  };
  if (report == PackReport::kJson) {
    // Made and printed before the archive takes its name.
    settings.beforeCommit = [&print](const WrittenArchive& written, std::string*) {
      return print(ReportJson(written.result).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
                   "\n");
    };
  }
  if (report == PackReport::kHtml) {
    // The page is made from the written archive, decoded as `extract`
    // decodes it, before the archive takes its name: a page that cannot
    // be made or printed fails the pack.
    settings.checkDecoded = true;
    settings.beforeCommit = [&print, jobs = options.jobs](const WrittenArchive& written, std::string* error) {
      std::optional<std::string> html =
          HtmlPage(written.result, written.sources, *written.content, jobs, error);
      return html && print(*html);
    };
  }
  const std::optional<PackResult> result = Pack(settings, &error);
  if (!result) {
    if (!outputFailed) err << kProgram << error << "\n";
    return kExitFailed;
  }
  for (const std::string& note : result->notes) err << kProgram << note << "\n";
  if (report == PackReport::kSummary) err << SummaryLine(*result) << "\n";
  return kExitDone;
}

int RunInfo(const std::string& archive, bool json, std::ostream& out, std::ostream& err) {
  std::string error;
  const std::optional<ArchiveContent> content = OpenArchiveFile(archive, false, &error);
  if (!content) {
    err << kProgram << error << "\n";
    return kExitFailed;
  }
  if (json) {
    out << InfoJson(archive, content->summary).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
        << "\n";
  } else {
    PrintInfo(archive, content->summary, out);
  }
  return kExitDone;
}

int RunExtract(const std::string& archive, const std::string& folder, uint64_t maxImageBytes,
               std::ostream& err) {
  std::string error;
  std::vector<uint8_t> bytes;
  const std::optional<ArchiveContent> content = OpenArchiveFile(archive, false, &error, &bytes);
  if (!content) {
    err << kProgram << error << "\n";
    return kExitFailed;
  }
  std::error_code failed;
  // Every folder the run makes, innermost first, to take away on failure.
  std::vector<std::filesystem::path> made;
  std::filesystem::path outermost = std::filesystem::absolute(folder, failed).lexically_normal();
  if (!outermost.has_filename()) outermost = outermost.parent_path();
  for (std::filesystem::path at = outermost; !at.empty(); at = at.parent_path()) {
    if (std::filesystem::exists(at, failed) || failed || at == at.parent_path()) break;
    made.push_back(at);
  }
  failed.clear();
  std::filesystem::create_directories(folder, failed);
  if (failed) {
    err << kProgram << folder << ": cannot create the folder (" << failed.message() << ")\n";
    return kExitFailed;
  }
  // Every picture is written under a temporary name, and all take their
  // names at the end: a failure leaves every file as it was.
  const auto extract = [&]() {
    PendingFiles outputs;
    std::vector<std::pair<std::string, const PendingFile*>> files;
    for (const ArchiveImage& image : content->summary.images) {
      const std::string name =
          (std::filesystem::path(folder) / (std::to_string(image.number) + ".png")).string();
      if (Destination(name).Replaces(archive)) {
        error = name + ": the picture would replace the archive";
        return false;
      }
      const PendingFile* file = outputs.Add(name, &error);
      if (file == nullptr) return false;
      files.emplace_back(name, file);
    }
    bool writeFailed = false;
    const auto write = [&](size_t n, const DecodedImage& image, std::string* error) {
      writeFailed = !WritePng(files[n].second->TemporaryPath(), files[n].first, image, error);
      return !writeFailed;
    };
    if (!DecodeEachImage(bytes, content->summary.alphaBits, maxImageBytes, write, &error)) {
      if (writeFailed) return false;
      if (error == "error in image data (image too large)") {
        error += "; --decode-limit raises the limit of " + std::to_string(maxImageBytes >> 20) + " MiB";
      }
      error = archive + ": " + error;
      return false;
    }
    return outputs.CommitAll(&error);
  };
  if (!extract()) {
    for (const std::filesystem::path& path : made) std::filesystem::remove(path, failed);
    err << kProgram << error << "\n";
    return kExitFailed;
  }
  const size_t count = content->summary.images.size();
  err << "extracted " << count << " image" << (count == 1 ? "" : "s") << " to " << folder << "\n";
  return kExitDone;
}

}  // namespace zef::tool
