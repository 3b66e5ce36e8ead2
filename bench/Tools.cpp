#include "bench/Tools.h"

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <map>

#include "bench/SpriteSet.h"

namespace zefbench {

namespace {

std::map<std::string, Tool>& AllTools() {
  static std::map<std::string, Tool> tools;
  return tools;
}

// --tool-sprite-set FOLDER: the sprites of the end-to-end case with their
// script; prints what bench/run needs to run and judge a conversion.
int MakeSpriteSetTool(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: zef_bench --tool-sprite-set FOLDER\n");
    return 1;
  }
  std::filesystem::create_directories(argv[2]);
  const SpriteSet set = MakeSpriteSet(argv[2]);
  std::printf("script %s\narchive %s\ndecoded_bytes %" PRIu64 "\n", set.script.c_str(),
              set.archive.c_str(), set.decodedBytes);
  return 0;
}

// --tool-pixel-art-set FOLDER: the sprites of the pixel-art case with
// their script, for profiling the tool on them.
int MakePixelArtSetTool(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: zef_bench --tool-pixel-art-set FOLDER\n");
    return 1;
  }
  std::filesystem::create_directories(argv[2]);
  const SpriteSet set = MakePixelArtSet(argv[2]);
  std::printf("script %s\narchive %s\nmean_run %.3f\n", set.script.c_str(), set.archive.c_str(),
              set.meanRun);
  return 0;
}

// --tool-idle: starts and ends; the memory of the program itself.
int IdleTool(int, char**) { return 0; }

const bool kRegistered = (AddTool("sprite-set", MakeSpriteSetTool),
                          AddTool("pixel-art-set", MakePixelArtSetTool), AddTool("idle", IdleTool), true);

}  // namespace

void AddTool(const std::string& name, Tool tool) { AllTools()["--tool-" + name] = std::move(tool); }

int RunTool(int argc, char** argv) {
  const auto tool = AllTools().find(argv[1]);
  if (tool == AllTools().end()) {
    std::fprintf(stderr, "zef_bench: unknown tool %s\n", argv[1]);
    return 1;
  }
  return tool->second(argc, argv);
}

}  // namespace zefbench
