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

// One PNG, whole or not at all.
bool WritePng(const std::string& fileName, const DecodedImage& image, std::string* error) {
  cv::Mat picture = image.bgr;
  if (!image.alpha.empty()) {
    const cv::Mat planes[] = {image.bgr, image.alpha};
    const int fromTo[] = {0, 0, 1, 1, 2, 2, 3, 3};
    picture = cv::Mat(image.bgr.size(), CV_8UC4);
    cv::mixChannels(planes, 2, &picture, 1, fromTo, 4);
  }
  std::vector<uint8_t> png;
  if (!cv::imencode(".png", picture, png)) {
    *error = fileName + ": the image library cannot encode it";
    return false;
  }
  std::optional<PendingFile> file = PendingFile::Create(fileName, error);
  if (!file) return false;
  if (!WriteBytes(file->TemporaryPath(), png)) {
    *error = fileName + ": cannot write it";
    return false;
  }
  return file->Commit(error);
}

}  // namespace

int RunPack(const PackOptions& options, PackReport report, std::ostream& out, std::ostream& err) {
  std::string error;
  PackOptions settings = options;
  std::string page;
  if (report == PackReport::kHtml) {
    // The page is made from the written archive, decoded as `extract`
    // decodes it, before the archive takes its name: a page that cannot
    // be made fails the pack.
    settings.beforeCommit = [&page, jobs = options.jobs](const WrittenArchive& written,
                                                         std::string* error) {
      std::optional<std::string> html =
          HtmlPage(written.result, written.sources, written.content, jobs, error);
      if (!html) return false;
      page = std::move(*html);
      return true;
    };
  }
  const std::optional<PackResult> result = Pack(settings, &error);
  if (!result) {
    err << kProgram << error << "\n";
    return kExitFailed;
  }
  for (const std::string& note : result->notes) err << kProgram << note << "\n";
  if (report == PackReport::kJson) {
    out << ReportJson(*result).dump(2) << "\n";
  } else if (report == PackReport::kHtml) {
    out << page;
  } else {
    err << SummaryLine(*result) << "\n";
  }
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
    out << InfoJson(archive, content->summary).dump(2) << "\n";
  } else {
    PrintInfo(archive, content->summary, out);
  }
  return kExitDone;
}

int RunExtract(const std::string& archive, const std::string& folder, std::ostream& err) {
  std::string error;
  const std::optional<ArchiveContent> content = OpenArchiveFile(archive, true, &error);
  if (!content) {
    err << kProgram << error << "\n";
    return kExitFailed;
  }
  std::error_code failed;
  std::filesystem::create_directories(folder, failed);
  if (failed) {
    err << kProgram << folder << ": cannot create the folder (" << failed.message() << ")\n";
    return kExitFailed;
  }
  std::vector<std::string> written;
  for (size_t n = 0; n < content->images.size(); ++n) {
    const std::filesystem::path name =
        std::filesystem::path(folder) / (std::to_string(content->summary.images[n].number) + ".png");
    if (!WritePng(name.string(), content->images[n], &error)) {
      // What this run wrote goes too: a half set of pictures would pass
      // for the archive's content.
      for (const std::string& done : written) std::remove(done.c_str());
      err << kProgram << error << "\n";
      return kExitFailed;
    }
    written.push_back(name.string());
  }
  err << "extracted " << written.size() << " image" << (written.size() == 1 ? "" : "s") << " to "
      << folder << "\n";
  return kExitDone;
}

}  // namespace zef::tool
