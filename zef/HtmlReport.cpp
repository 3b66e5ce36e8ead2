#include "zef/HtmlReport.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <new>
#include <numeric>

#include "zef/Parallel.h"

namespace zef::tool {

namespace {

constexpr int kShortestShownSide = 96;  // CSS px
constexpr int kLongestMagnifiedSide = 1024;
// The difference map tops out at an RMS error of 32 and goes in steps of
// 2: few colours keep its PNG small, one scale for every image keeps them
// comparable, and the error of mapping to the nearest level alone (about
// 5) stays dark beside that of a reduction.
constexpr int kDifferenceStepWidth = 2;
constexpr int kDifferenceSteps = 16;
constexpr int kLegendStepPixels = 12;
// Level 9 makes a page of 3000 icons 2 % smaller at four times the time.
constexpr int kPngCompression = 6;
constexpr double kBytesPerKilobyte = 1024.0;

const char kStyle[] = R"(
:root{--line:#d9d9de;--muted:#6b6b76}
*{box-sizing:border-box}
body{margin:0;padding:24px;font:14px/1.45 system-ui,-apple-system,"Segoe UI",sans-serif;color:#1f1f24;background:#f3f3f5}
h1{margin:0 0 4px;font-size:20px;font-weight:600}
.lead{margin:0 0 14px;color:var(--muted)}
.summary{display:flex;flex-wrap:wrap;gap:10px 36px;margin:0 0 20px;padding:14px 18px;background:#fff;border:1px solid var(--line);border-radius:8px}
.summary div{display:flex;flex-direction:column}
.summary dt{font-size:12px;color:var(--muted)}
.summary dd{margin:0;font-size:17px;font-weight:600}
.summary small{font-size:12px;font-weight:400;color:var(--muted)}
.legend{display:flex;align-items:center;gap:6px;font-size:12px;font-weight:400}
.images{display:flex;flex-wrap:wrap;gap:14px;align-items:flex-start}
.image{padding:10px 12px 8px;background:#fff;border:1px solid var(--line);border-radius:8px;content-visibility:auto;contain-intrinsic-size:auto 340px auto 190px}
.image h2{width:0;min-width:100%;margin:0 0 8px;font-size:13px;font-weight:600;overflow-wrap:anywhere}
.number{display:inline-block;margin-right:6px;padding:0 6px;border-radius:4px;color:#fff;background:#55555f;font-variant-numeric:tabular-nums}
.shrunk .number{background:#b3261e}
.pictures{display:flex;gap:10px}
figure{margin:0}
figcaption{margin-top:3px;font-size:11px;color:var(--muted);text-align:center}
img{display:block;image-rendering:pixelated;image-rendering:crisp-edges;background:repeating-conic-gradient(#dcdce0 0 25%,#fff 0 50%) 0 0/8px 8px;outline:1px solid var(--line)}
.legend img{outline:0}
.figures{width:0;min-width:100%;margin:6px 0 0;font-size:12px;color:#3a3a44;font-variant-numeric:tabular-nums}
.figures .reduced{font-weight:600}
.shrunk .reduced{color:#b3261e}
)";

std::string Base64(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t n = 0; n < bytes.size(); n += 3) {
    const size_t left = bytes.size() - n;
    const uint32_t group = uint32_t(bytes[n]) << 16 | (left > 1 ? uint32_t(bytes[n + 1]) << 8 : 0) |
                           (left > 2 ? uint32_t(bytes[n + 2]) : 0);
    text += kDigits[group >> 18];
    text += kDigits[group >> 12 & 63];
    text += left > 1 ? kDigits[group >> 6 & 63] : '=';
    text += left > 2 ? kDigits[group & 63] : '=';
  }
  return text;
}

// The length of the valid UTF-8 sequence at `at` (a character, not a
// surrogate, up to U+10FFFF, in its shortest form); 0 when there is none.
size_t Utf8Length(const std::string& text, size_t at) {
  const auto byte = [&text](size_t n) { return n < text.size() ? uint8_t(text[n]) : 0; };
  const uint8_t lead = byte(at);
  const size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                         : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  for (size_t n = 1; n < length; ++n) {
    if ((byte(at + n) & 0xC0) != 0x80) return 0;
  }
  const uint8_t second = byte(at + 1);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second > 0x8F)) {
    return 0;
  }
  return length;
}

// Text for the page, which is declared UTF-8: markup characters as
// references, and, as the JSON report does, every byte that is not UTF-8
// as U+FFFD; control characters (C0, DEL and C1) too, which a page must
// not hold.
std::string EscapeHtml(const std::string& text) {
  static const std::string kReplacement = "\xEF\xBF\xBD";
  std::string escaped;
  escaped.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const size_t length = Utf8Length(text, at);
    const uint8_t c = uint8_t(text[at]);
    const bool control = c < 0x20 || c == 0x7F || (c == 0xC2 && length == 2 && uint8_t(text[at + 1]) < 0xA0);
    if (length == 0 || control) {
      escaped += kReplacement;
      at += length == 0 ? 1 : length;
      continue;
    }
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped.append(text, at, length);
    }
    at += length;
  }
  return escaped;
}

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Psnr(double psnr) {
  return std::isfinite(psnr) ? Format("%.2f", psnr) + " dB" : "&infin;";
}

// Its shorter side reaches 96 px, unless its longer side would pass 1024.
int Magnification(int width, int height) {
  const int shorter = std::max(1, std::min(width, height)), longer = std::max(width, height);
  int factor = (kShortestShownSide + shorter - 1) / shorter;
  if (int64_t(longer) * factor > kLongestMagnifiedSide) {
    factor = std::max(1, kLongestMagnifiedSide / std::max(1, longer));
  }
  return factor;
}

cv::Mat WithAlpha(const cv::Mat& bgr, const cv::Mat& alpha) {
  if (alpha.empty()) return bgr;
  cv::Mat bgra(bgr.size(), CV_8UC4);
  const cv::Mat planes[] = {bgr, alpha};
  const int fromTo[] = {0, 0, 1, 1, 2, 2, 3, 3};
  cv::mixChannels(planes, 2, &bgra, 1, fromTo, 4);
  return bgra;
}

// The colour of each difference step, from dark (none) to pale yellow.
std::vector<cv::Vec3b> StepColours() {
  cv::Mat ramp(1, kDifferenceSteps + 1, CV_8UC1);
  for (int step = 0; step <= kDifferenceSteps; ++step) {
    ramp.at<uint8_t>(0, step) = uint8_t(step * 255 / kDifferenceSteps);
  }
  cv::Mat colours;
  cv::applyColorMap(ramp, colours, cv::COLORMAP_INFERNO);
  return std::vector<cv::Vec3b>(colours.begin<cv::Vec3b>(), colours.end<cv::Vec3b>());
}

// Where the archive shows a pixel, the step of its colour error; where it
// hides it, nothing.
cv::Mat DifferenceMap(const cv::Mat& sourceBgr, const DecodedImage& shown,
                      const std::vector<cv::Vec3b>& colours) {
  const bool withAlpha = !shown.alpha.empty();
  cv::Mat map(sourceBgr.size(), withAlpha ? CV_8UC4 : CV_8UC3);
  for (int y = 0; y < map.rows; ++y) {
    const uint8_t* source = sourceBgr.ptr<uint8_t>(y);
    const uint8_t* result = shown.bgr.ptr<uint8_t>(y);
    const uint8_t* alpha = withAlpha ? shown.alpha.ptr<uint8_t>(y) : nullptr;
    uint8_t* out = map.ptr<uint8_t>(y);
    for (int x = 0; x < map.cols; ++x, source += 3, result += 3, out += map.channels()) {
      if (alpha != nullptr && alpha[x] == 0) {
        out[0] = out[1] = out[2] = out[3] = 0;
        continue;
      }
      int squares = 0;
      for (int c = 0; c < 3; ++c) squares += (source[c] - result[c]) * (source[c] - result[c]);
      const double rms = std::sqrt(squares / 3.0);
      const int step = std::min(kDifferenceSteps, int(std::lround(rms / kDifferenceStepWidth)));
      const cv::Vec3b& colour = colours[size_t(step)];
      out[0] = colour[0];
      out[1] = colour[1];
      out[2] = colour[2];
      if (alpha != nullptr) out[3] = 255;
    }
  }
  return map;
}

bool DataUri(const cv::Mat& picture, std::string* uri) {
  std::vector<uint8_t> png;
  if (!cv::imencode(".png", picture, png, {cv::IMWRITE_PNG_COMPRESSION, kPngCompression})) return false;
  *uri = "data:image/png;base64," + Base64(png);
  return true;
}

std::string Picture(const char* kind, const char* caption, const std::string& uri, int width,
                    int height) {
  return std::string("<figure><img class=\"") + kind + "\" alt=\"" + caption + "\" width=\"" +
         std::to_string(width) + "\" height=\"" + std::to_string(height) + "\" src=\"" + uri +
         "\"><figcaption>" + caption + "</figcaption></figure>";
}

bool Changed(const PackedImage& image) { return std::isfinite(image.psnr); }

// One image's block, or empty when a picture cannot be encoded.
std::string ImageBlock(const PackedImage& image, const SourcePicture& source,
                       const DecodedImage& shown, const std::vector<cv::Vec3b>& colours) {
  std::string sourceUri, shownUri, differenceUri;
  if (!DataUri(WithAlpha(source.bgr, source.alpha), &sourceUri) ||
      !DataUri(WithAlpha(shown.bgr, shown.alpha), &shownUri) ||
      !DataUri(DifferenceMap(source.bgr, shown, colours), &differenceUri)) {
    return {};
  }
  const int factor = Magnification(image.width, image.height);
  const int width = image.width * factor, height = image.height * factor;
  const std::string number = std::to_string(image.number);
  std::string block = "<section class=\"image" + std::string(image.reduced ? " shrunk" : "") +
                      "\" id=\"image-" + number + "\"><h2><span class=\"number\">" + number +
                      "</span><span class=\"file\">" + EscapeHtml(image.file) + "</span></h2>";
  block += "<div class=\"pictures\">";
  block += Picture("source", "source", sourceUri, width, height);
  block += Picture("result", "archive", shownUri, width, height);
  block += Picture("difference", "difference", differenceUri, width, height);
  block += "</div><p class=\"figures\"><span class=\"size\">" + std::to_string(image.width) +
           " &times; " + std::to_string(image.height) + "</span> &middot; <span class=\"colors-before\">" +
           std::to_string(image.coloursBefore) + "</span> &rarr; <span class=\"colors-after\">" +
           std::to_string(image.coloursAfter) + "</span> colours, <span class=\"reduced\">" +
           (image.reduced ? "reduced" : "not reduced") + "</span><br>PSNR <span class=\"psnr\">" +
           Psnr(image.psnr) + "</span> &middot; composite PSNR <span class=\"composite-psnr\">" +
           Psnr(image.composite.Psnr()) + "</span> &middot; <span class=\"bytes\">" +
           std::to_string(image.archiveBytes) + "</span> bytes</p></section>\n";
  return block;
}

// Lowest PSNR first; images whose visible pixels are unchanged after all
// the others, by number.
std::vector<size_t> Order(const std::vector<PackedImage>& images) {
  std::vector<size_t> order(images.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::stable_sort(order.begin(), order.end(), [&images](size_t a, size_t b) {
    const bool changedA = Changed(images[a]), changedB = Changed(images[b]);
    if (changedA != changedB) return changedA;
    if (changedA && images[a].psnr != images[b].psnr) return images[a].psnr < images[b].psnr;
    return images[a].number < images[b].number;
  });
  return order;
}

std::string Kilobytes(uint64_t bytes) {
  return Format("%.1f KB", double(bytes) / kBytesPerKilobyte);
}

std::string Summary(const PackResult& result, const std::vector<cv::Vec3b>& colours,
                    std::string* error) {
  uint64_t sourceBytes = 0;
  int reduced = 0;
  const PackedImage* worst = nullptr;
  for (const PackedImage& image : result.images) {
    sourceBytes += image.sourceBytes;
    reduced += image.reduced ? 1 : 0;
    if (Changed(image) && (worst == nullptr || image.psnr < worst->psnr)) worst = &image;
  }
  cv::Mat legend(1, int(colours.size()), CV_8UC3);
  for (size_t step = 0; step < colours.size(); ++step) legend.at<cv::Vec3b>(0, int(step)) = colours[step];
  std::string legendUri;
  if (!DataUri(legend, &legendUri)) {
    *error = "the image library cannot encode a PNG";
    return {};
  }
  const std::string share =
      sourceBytes > 0 ? Format("%.1f", 100.0 * double(result.archiveBytes) / double(sourceBytes)) + " %"
                      : "-";
  std::string text = "<dl class=\"summary\">";
  text += "<div><dt>images</dt><dd><span id=\"summary-images\">" +
          std::to_string(result.images.size()) + "</span></dd></div>";
  text += "<div><dt>archive against sources</dt><dd><span id=\"summary-archive-bytes\">" +
          std::to_string(result.archiveBytes) + "</span> / <span id=\"summary-source-bytes\">" +
          std::to_string(sourceBytes) + "</span> bytes <small>(" + Kilobytes(result.archiveBytes) +
          " / " + Kilobytes(sourceBytes) + ", " + share + ")</small></dd></div>";
  text += "<div><dt>reduced</dt><dd><span id=\"summary-reduced\">" + std::to_string(reduced) +
          "</span> <small>of " + std::to_string(result.images.size()) + "</small></dd></div>";
  text += "<div><dt>worst PSNR</dt><dd><span id=\"summary-worst-psnr\">" +
          (worst ? Psnr(worst->psnr) : Psnr(INFINITY)) + "</span>";
  if (worst) text += " <small>#" + std::to_string(worst->number) + " " + EscapeHtml(worst->file) + "</small>";
  text += "</dd></div>";
  text += "<div><dt>composite PSNR</dt><dd><span id=\"summary-composite-psnr\">" +
          Psnr(result.composite.Psnr()) + "</span> <small>version " + std::to_string(result.version) +
          (result.greyBits != 0 ? ", <span id=\"summary-target\">gray:" + std::to_string(result.greyBits) +
                                      "</span>, against the luma"
                                : std::string()) +
          "</small></dd></div>";
  text += "<div><dt>alpha values</dt><dd>" + std::to_string(result.alphaValues) + "</dd></div>";
  text += "<div><dt>difference (RMS error)</dt><dd class=\"legend\">0 <img alt=\"scale\" width=\"" +
          std::to_string(int(colours.size()) * kLegendStepPixels) + "\" height=\"" +
          std::to_string(kLegendStepPixels) + "\" src=\"" + legendUri + "\"> &ge; " +
          std::to_string(kDifferenceSteps * kDifferenceStepWidth) + "</dd></div>";
  text += "</dl>\n";
  return text;
}

}  // namespace

std::optional<std::string> HtmlPage(const PackResult& result,
                                    const std::vector<SourcePicture>& sources,
                                    const ArchiveContent& archive, int jobs, std::string* error) {
  try {
    const size_t count = result.images.size();
    bool matches = sources.size() == count && archive.images.size() == count;
    for (size_t n = 0; matches && n < count; ++n) {
      const cv::Size size(result.images[n].width, result.images[n].height);
      matches = sources[n].bgr.size() == size && archive.images[n].bgr.size() == size;
    }
    if (!matches) {
      *error = result.archive + ": the archive does not hold the images just packed";
      return std::nullopt;
    }
    const std::vector<cv::Vec3b> colours = StepColours();
    std::vector<std::string> blocks(count);
    ParallelFor(count, jobs, [&](size_t n) {
      try {
        blocks[n] = ImageBlock(result.images[n], sources[n], archive.images[n], colours);
      } catch (const std::bad_alloc&) {
      } catch (const cv::Exception&) {
      }
    });
    for (size_t n = 0; n < count; ++n) {
      if (blocks[n].empty()) {
        *error = result.images[n].file + ": the image library cannot encode its pictures for the page";
        return std::nullopt;
      }
    }
    const std::string summary = Summary(result, colours, error);
    if (summary.empty()) return std::nullopt;

    const std::string name = EscapeHtml(std::filesystem::path(result.archive).filename().string());
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src data:; "
        "style-src 'unsafe-inline'\">"
        "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\"><title>" +
        name + " &middot; zef pack</title><style>" + kStyle + "</style></head><body>\n<h1>" + name +
        "</h1><p class=\"lead\">Each image as loaded, as the archive shows it, and where they differ: "
        "most changed first (lowest PSNR of the visible pixels), unchanged ones last.</p>\n" +
        summary + "<main class=\"images\">\n";
    size_t total = page.size();
    for (const std::string& block : blocks) total += block.size();
    page.reserve(total + 64);
    for (const size_t n : Order(result.images)) {
      page += blocks[n];
      std::string().swap(blocks[n]);
    }
    page += "</main></body></html>\n";
    return page;
  } catch (const std::bad_alloc&) {
    *error = "out of memory for the page";
  } catch (const cv::Exception& exception) {
    *error = exception.err;
  }
  return std::nullopt;
}

}  // namespace zef::tool
