// The command line of `zef`, read with CLI11. Every CLI11 exception ends
// here: help and version go to standard output with exit 0, misuse to
// standard error with the usage and exit 2.
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdlib>

#include "zef/Commands.h"
#include "zef/Embed.h"

#ifndef ZEF_VERSION
#define ZEF_VERSION "unknown"
#endif

namespace zef::tool {

namespace {

constexpr int32_t kMaxStartIndex = 10000000;
constexpr int kMaxJobs = 1024;
constexpr int kMaxColours = 256;
// What the console tool's reader decodes at most, in MiB.
constexpr int kDefaultDecodeLimitMiB = 512;
// 16 GiB: more than the largest image takes (65534 x 65535 x 4 bytes).
constexpr int kMaxDecodeLimitMiB = 16 << 10;

// Decimal digits only, as the conversion script's keys are read: no sign,
// no "0x", and a leading 0 is not octal.
std::optional<int> WholeNumber(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  int value = 0;
  const auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (failed != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A numeric option read by WholeNumber, from `lowest` to `highest`.
template <typename Number>
CLI::Option* AddNumber(CLI::App* app, const std::string& name, Number& target, int lowest, int highest,
                       const std::string& description) {
  const std::string range = "must be a decimal number from " + std::to_string(lowest) + " to " +
                            std::to_string(highest);
  return app
      ->add_option_function<std::string>(
          name, [&target](const std::string& text) { target = Number(*WholeNumber(text)); }, description)
      ->check(CLI::Validator(
          [=](std::string& text) {
            const std::optional<int> value = WholeNumber(text);
            return value && *value >= lowest && *value <= highest ? std::string() : range;
          },
          "N"));
}

// "fs" or "fs:<strength>" with a strength above 0 and at most 1; "ordered"
// is for grey targets and has no strength.
std::optional<float> DitherStrength(const std::string& text) {
  if (text == "none" || text == "ordered") return 0.0f;
  if (text == "fs") return 1.0f;
  if (text.rfind("fs:", 0) != 0) return std::nullopt;
  char* end = nullptr;
  const std::string number = text.substr(3);
  const float strength = std::strtof(number.c_str(), &end);
  if (number.empty() || *end != '\0' || !(strength > 0 && strength <= 1)) return std::nullopt;
  return strength;
}

// A decimal number of dB: digits with at most one point, nothing else (no
// sign, exponent, hex or "inf"), from 1 to 100.
constexpr double kLowestQuality = 1, kHighestQuality = 100;

std::optional<double> Quality(const std::string& text) {
  const size_t point = text.find('.');
  const bool digitsOnly = !text.empty() && text != "." &&
                          text.find_first_not_of("0123456789.") == std::string::npos &&
                          (point == std::string::npos || text.find('.', point + 1) == std::string::npos);
  if (!digitsOnly) return std::nullopt;
  double value = 0;
  const auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (failed != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < kLowestQuality || value > kHighestQuality) return std::nullopt;
  return value;
}

CLI::Validator QualityValidator() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return Quality(text) ? std::string() : "must be a decimal number of dB from 1 to 100";
      },
      "DB");
}

CLI::Validator ColoursValidator() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text == "auto" || text == "exact") return {};
        const std::optional<int> count = WholeNumber(text);
        if (count && *count >= 1 && *count <= kMaxColours) return {};
        return "must be auto, exact or a number from 1 to 256";
      },
      "auto|exact|N");
}

CLI::Validator DitherValidator() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return DitherStrength(text) ? std::string() : "must be none, fs, fs:<strength in (0, 1]> or ordered";
      },
      "none|fs[:STRENGTH]|ordered");
}

// "gray:N" for N-bit grey levels; no value for anything else.
std::optional<int> GreyBits(const std::string& text) {
  for (const int bits : {1, 2, 4, 8}) {
    if (text == "gray:" + std::to_string(bits)) return bits;
  }
  return std::nullopt;
}

struct PackArguments {
  PackOptions options;
  std::optional<int32_t> startIndex;
  std::string alpha = "auto";
  std::string colours = "auto";
  std::string dither = "none";
  std::string format;  // empty: v3, or v4 for a grey target
  std::string target;
  std::string quality;
  std::string report;
  std::optional<std::string> prefix;
};

void AddPack(CLI::App& app, PackArguments& arguments) {
  CLI::App* pack = app.add_subcommand("pack", "pack images into an archive");
  PackOptions& options = arguments.options;
  CLI::Option* inputs =
      pack->add_option("inputs", options.inputs, "image files and folders, packed in this order");
  pack->add_option("--script", options.scriptFile, "take images, masks and settings from a conversion script")
      ->excludes(inputs);
  pack->add_option("-o,--output", options.outputFile, "the archive to write");
  AddNumber(pack, "--start-index", arguments.startIndex, 0, kMaxStartIndex,
            "number of the first image (default 0)");
  pack->add_option("--alpha", arguments.alpha, "alpha values per pixel: auto, 0, 2 or 4")
      ->check(CLI::IsMember({"auto", "0", "2", "4"}));
  pack->add_option("--mask-suffix", options.maskSuffix,
                   "a mask file is named <stem><suffix>.<ext> (default _mask)")
      ->check(CLI::Validator(
          [](std::string& text) { return text.empty() ? std::string("must not be empty") : std::string(); },
          "SUFFIX"));
  pack->add_option("--colors", arguments.colours, "palette size: auto, exact or at most N")
      ->check(ColoursValidator());
  pack->add_option("--dither", arguments.dither,
                   "dithering when colours are reduced: none (default), fs[:STRENGTH] (Floyd-Steinberg), "
                   "or for grey targets ordered (Bayer 8 x 8)")
      ->check(DitherValidator());
  pack->add_option("--target", arguments.target,
                   "gray:N: N-bit grey levels (1, 2, 4 or 8) of each picture's luma for mono and grey "
                   "displays, alpha kept, written as version 4")
      ->check(CLI::Validator(
          [](std::string& text) { return GreyBits(text) ? std::string() : std::string("must be gray:1, gray:2, gray:4 or gray:8"); },
          "gray:N"));
  pack->add_flag("--compatible", options.compatible,
                 "cut colours as ZefiConvert does, giving its archive for images that fit (version 3)");
  pack->add_option("--format", arguments.format,
                   "v3: every reader takes it (default); v4: 8-bit colour and alpha, a palette per image")
      ->check(CLI::IsMember({"v3", "v4"}));
  pack->add_option("--quality", arguments.quality,
                   "version 4: composite PSNR in dB each image should reach with the smallest palette "
                   "(default 40)")
      ->check(QualityValidator());
  pack->add_option("--report", arguments.report,
                   "print a report on standard output: json, or html (a page with every image)")
      ->check(CLI::IsMember({"json", "html"}));
  pack->add_option("--header", options.headerFile, "write a C header with the image numbers");
  pack->add_option("--prefix", arguments.prefix, "prefix of the header's names (default: the archive's stem)");
  AddNumber(pack, "-j,--jobs", options.jobs, 1, kMaxJobs,
            "images decoded and reduced at once (default and most: all cores)");
}

void Finish(PackArguments& arguments) {
  PackOptions& options = arguments.options;
  options.startIndex = arguments.startIndex;
  if (arguments.alpha != "auto") options.alphaValues = WholeNumber(arguments.alpha);
  if (arguments.colours == "exact") {
    options.colourLimit = ColourLimit::kExact;
  } else if (arguments.colours != "auto") {
    options.colourLimit = ColourLimit::kCap;
    options.colourCap = WholeNumber(arguments.colours).value_or(kMaxColours);
  }
  options.ditherStrength = DitherStrength(arguments.dither).value_or(0.0f);
  options.greyBits = GreyBits(arguments.target).value_or(0);
  options.orderedDither = arguments.dither == "ordered";
  options.format = arguments.format == "v4" || options.greyBits != 0 ? ArchiveFormat::kVersion4
                                                                      : ArchiveFormat::kVersion3;
  if (!arguments.quality.empty()) options.quality = Quality(arguments.quality).value_or(kDefaultQuality);
  options.prefix = arguments.prefix;
  options.progress = isatty(STDERR_FILENO) == 1;
}

struct EmbedArguments {
  EmbedOptions options;
  std::string format = "c";
};

CLI::Validator FaultValidator(std::string (*fault)(const std::string&), const char* name) {
  return CLI::Validator([fault](std::string& text) { return fault(text); }, name);
}

CLI::App* AddEmbed(CLI::App& app, EmbedArguments& arguments) {
  CLI::App* embed = app.add_subcommand("embed", "turn an archive into a C array or bytes for firmware");
  EmbedOptions& options = arguments.options;
  embed->add_option("-o,--output", options.outputFile,
                    "the C source or binary to write (default: standard output)");
  embed->add_option("--header", options.headerFile, "write a C header that declares the data");
  embed->add_option("--symbol", options.symbol, "name of the array (default: the archive's stem)")
      ->check(FaultValidator(SymbolFault, "NAME"));
  embed
      ->add_option_function<std::string>(
          "--align", [&options](const std::string& text) { options.alignment = uint32_t(*WholeNumber(text)); },
          "alignment of the array in bytes (default 4)")
      ->check(CLI::Validator(
          [](std::string& text) {
            const std::optional<int> value = WholeNumber(text);
            return AlignmentFault(value && *value > 0 ? uint32_t(*value) : 0);
          },
          "N"));
  embed->add_option("--section", options.section, "linker section of the array")
      ->check(FaultValidator(SectionFault, "NAME"));
  embed->add_option("--format", arguments.format, "c: a C99 source; bin: the archive's bytes")
      ->check(CLI::IsMember({"c", "bin"}));
  embed->add_flag("--lvgl", options.lvgl,
                  "also define an lv_image_dsc_t per image, drawn by lv_zef in LVGL");
  embed->add_option("--names", options.namesFile,
                    "with --lvgl: the header of zef pack --header, whose names the images take "
                    "(default: <symbol>_<position>)");
  embed->add_option("archive", options.archive, "the archive")->required();
  return embed;
}

// The usage of the subcommand that was being read, or of the whole program.
std::string Usage(const CLI::App& app) {
  const auto parsed = app.get_subcommands();
  return parsed.empty() ? app.help() : parsed.back()->help();
}

}  // namespace

int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App app(
      "packs images into .zef archives, lists and extracts what archives hold, and embeds them "
      "in firmware",
      "zef");
  app.require_subcommand(1);
  app.set_version_flag("--version", ZEF_VERSION);

  PackArguments pack;
  AddPack(app, pack);

  bool infoJson = false;
  std::string infoArchive;
  CLI::App* info = app.add_subcommand("info", "list what an archive holds");
  info->add_flag("--json", infoJson, "as JSON");
  info->add_option("archive", infoArchive, "the archive")->required();

  std::string extractArchive, extractFolder;
  int decodeLimit = kDefaultDecodeLimitMiB;
  CLI::App* extract = app.add_subcommand("extract", "write every image of an archive as <number>.png");
  extract->add_option("-o,--output", extractFolder, "the folder to write to")->required();
  AddNumber(extract, "--decode-limit", decodeLimit, 0, kMaxDecodeLimitMiB,
            "most MiB one decoded image may take, 0 for no limit (default 512, as ZefiConvert reads)");
  extract->add_option("archive", extractArchive, "the archive")->required();

  EmbedArguments embed;
  CLI::App* embedCommand = AddEmbed(app, embed);

  try {
    app.parse(argc, argv);
    CLI::App* packCommand = app.get_subcommand("pack");
    if (packCommand->parsed()) {
      if (pack.options.inputs.empty() && pack.options.scriptFile.empty()) {
        throw CLI::ValidationError("pack", "give image files or folders, or --script");
      }
      if (pack.options.outputFile.empty() && pack.options.scriptFile.empty()) {
        throw CLI::RequiredError("--output");
      }
      // Settings of one version that the other cannot honour.
      const bool grey = !pack.target.empty();
      if (grey) {
        if (pack.format == "v3") throw CLI::ValidationError("pack", "--target gray:N writes version 4, not --format v3");
        if (pack.options.compatible) throw CLI::ValidationError("pack", "--compatible writes version 3, not --target gray:N");
        if (pack.colours != "auto") throw CLI::ValidationError("pack", "--target gray:N takes its levels, not --colors");
      } else if (pack.dither == "ordered") {
        throw CLI::ValidationError("pack", "--dither ordered is for --target gray:N");
      }
      if (pack.format == "v4" || grey) {
        if (pack.options.compatible) throw CLI::ValidationError("pack", "--compatible writes version 3, not --format v4");
        if (pack.alpha != "auto" && pack.alpha != "0") {
          throw CLI::ValidationError("pack", "--format v4 stores 8-bit alpha: --alpha takes auto or 0");
        }
        if (pack.dither != "none" && !grey) throw CLI::ValidationError("pack", "--dither is for version 3");
      } else if (!pack.quality.empty()) {
        throw CLI::ValidationError("pack", "--quality is for --format v4");
      }
    }
    if (embedCommand->parsed() && !embed.options.outputFile.empty() &&
        embed.options.outputFile == embed.options.headerFile) {
      throw CLI::ValidationError("embed", "--output and --header name the same file");
    }
    if (embedCommand->parsed() && embed.options.lvgl && embed.format == "bin") {
      throw CLI::ValidationError("embed", "--lvgl defines the images in C, not with --format bin");
    }
    if (embedCommand->parsed() && !embed.options.namesFile.empty() && !embed.options.lvgl) {
      throw CLI::ValidationError("embed", "--names names the images of --lvgl");
    }
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error, out, err);
    err << "zef: " << error.what() << "\n\n" << Usage(app);
    return kExitMisuse;
  }

  if (app.get_subcommand("pack")->parsed()) {
    Finish(pack);
    const PackReport report = pack.report == "json"   ? PackReport::kJson
                              : pack.report == "html" ? PackReport::kHtml
                                                      : PackReport::kSummary;
    return RunPack(pack.options, report, out, err);
  }
  if (embedCommand->parsed()) {
    embed.options.format = embed.format == "bin" ? EmbedFormat::kBinary : EmbedFormat::kC;
    return RunEmbed(embed.options, out, err);
  }
  if (info->parsed()) return RunInfo(infoArchive, infoJson, out, err);
  return RunExtract(extractArchive, extractFolder, uint64_t(decodeLimit) << 20, err);
}

}  // namespace zef::tool
