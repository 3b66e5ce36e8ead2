#include "bench/Scratch.h"

#include <cstdlib>
#include <filesystem>

namespace zefbench {

namespace {
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zef_bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};
}  // namespace

std::string ScratchPath(const std::string& name) {
  static ScratchFolder folder;
  return folder.Path() + "/" + name;
}

}  // namespace zefbench
