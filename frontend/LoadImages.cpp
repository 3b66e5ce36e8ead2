#include "frontend/LoadImages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/FileBytes.h"
#include "frontend/Console.h"

namespace zef::frontend {

namespace {

// Files loaded ahead of the first one not yet checked, per thread: enough
// that a slow file does not leave the other threads idle, few enough that
// a fault wastes little work and memory.
constexpr size_t kFilesAheadPerThread = 8;

// What loading one file gives. The messages and checks that follow from it
// come later, in script order, one file at a time.
struct LoadedFile {
  bool loaded = false;  // the file decoded as the colour load would
  cv::Size size;        // of the picture as loaded
  int loadedType = 0;   // of the picture as the colour load yields it
  cv::Mat picture;      // in the working layout; empty when a conversion failed
  uint64_t fileBytes = 0;
  size_t colours = 0;   // source images: distinct palette colours
};

// The name as the console shows it: up to a NUL byte, as printing a C
// string does.
std::string ShownName(const std::string& fileName) {
  return fileName.substr(0, fileName.find('\0'));
}

// The whole file, read once: the decoder works on the bytes and their
// number is the file size the report adds up. Only a regular file can be
// loaded.
bool ReadWholeFile(const std::string& fileName, std::vector<uint8_t>& bytes, uint64_t& fileBytes) {
  try {
    return ReadRegularFile(fileName, bytes, &fileBytes) == FileRead::kRead;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

cv::Mat Decode(const std::vector<uint8_t>& bytes, int flags) {
  if (bytes.empty()) return {};
  try {
    // A header over the bytes, not a copy of them.
    const cv::Mat encoded(1, int(std::min<size_t>(bytes.size(), INT32_MAX)), CV_8UC1,
                          const_cast<uint8_t*>(bytes.data()));
    return cv::imdecode(encoded, flags);
  } catch (const cv::Exception&) {
  } catch (const std::bad_alloc&) {
  }
  return {};
}

// A greyscale PNG decodes straight to one channel with the same values
// that decoding it to three equal channels and converting those to grey
// gives, without the two copies in between.
bool IsGreyPng(const std::vector<uint8_t>& bytes) {
  static constexpr uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  constexpr size_t kChunkType = 12, kColourType = 25;
  constexpr uint8_t kGreyColourType = 0;
  return bytes.size() > kColourType && std::memcmp(bytes.data(), kSignature, sizeof kSignature) == 0 &&
         std::memcmp(bytes.data() + kChunkType, "IHDR", 4) == 0 &&
         bytes[kColourType] == kGreyColourType;
}

// Bits of one channel value, as image records of the classic interface
// count them (not the library's depth code).
int BitsPerChannel(int depth) {
  switch (depth) {
    case CV_8U:
    case CV_8S:
      return 8;
    case CV_16U:
    case CV_16S:
    case CV_16F:
      return 16;
    case CV_32S:
    case CV_32F:
      return 32;
    default:
      return 64;
  }
}

// A one-channel copy of the picture; empty when memory runs out.
cv::Mat ToGrey(const cv::Mat& picture) {
  try {
    cv::Mat grey;
    cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    return grey;
  } catch (const cv::Exception&) {
  } catch (const std::bad_alloc&) {
  }
  return {};
}

// The number of entries the writer's palette of the image will have: its
// distinct 4-4-4 colours, counted without building the palette. The order
// the writer packs the nibbles in makes no difference to the count.
size_t CountPaletteColours(const cv::Mat& image) {
  // One byte per colour: marking is a plain store, with no read of what an
  // earlier pixel marked.
  alignas(64) std::array<uint8_t, kColourTableSize> seen{};
  for (int y = 0; y < image.rows; ++y) {
    const uint8_t* pixel = image.ptr<uint8_t>(y);
    for (int x = 0; x < image.cols; ++x, pixel += 3) {
      seen[size_t(pixel[0] & 0xF0) << 4 | size_t(pixel[1] & 0xF0) | size_t(pixel[2] >> 4)] = 1;
    }
  }
  // Eight marks at a time: the multiplication adds a word's bytes into its
  // top byte, which holds at most 8.
  constexpr uint64_t kByteOnes = 0x0101010101010101u;
  size_t count = 0;
  for (size_t at = 0; at < seen.size(); at += sizeof(uint64_t)) {
    uint64_t marks;
    std::memcpy(&marks, seen.data() + at, sizeof marks);
    count += size_t((marks * kByteOnes) >> 56);
  }
  return count;
}

// IMREAD_COLOR always yields 8-bit, 3-channel pictures with the top row
// first, so source images never need a conversion or a flip.
LoadedFile LoadSourceImage(const std::string& fileName) {
  LoadedFile file;
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(fileName, bytes, file.fileBytes)) return file;
  file.picture = Decode(bytes, cv::IMREAD_COLOR);
  file.loaded = !file.picture.empty();
  if (file.loaded) file.colours = CountPaletteColours(file.picture);
  return file;
}

// A mask is loaded as colour, as every picture is, and then turned to one
// channel; its messages tell of that conversion.
LoadedFile LoadMask(const std::string& fileName) {
  LoadedFile file;
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(fileName, bytes, file.fileBytes)) return file;
  if (IsGreyPng(bytes)) {
    file.picture = Decode(bytes, cv::IMREAD_GRAYSCALE);
    file.loaded = !file.picture.empty();
    file.size = file.picture.size();
    file.loadedType = CV_8UC3;
    return file;
  }
  cv::Mat colour = Decode(bytes, cv::IMREAD_COLOR);
  file.loaded = !colour.empty();
  file.size = colour.size();
  file.loadedType = colour.type();
  file.picture = colour.type() == CV_8UC1 ? colour : ToGrey(colour);
  return file;
}

// Loads the named files on the imaging library's threads and hands each to
// `accept` in script order, stopping at the first file that it refuses.
// Every thread takes the next file not yet taken, at most a window ahead
// of the first file not yet accepted, and whichever thread completes that
// first file hands on every file that is then ready; so no thread waits for
// a whole window to finish, and memory grows by one window of files at
// most. `accept` runs under the lock, one file at a time.
template <typename Load, typename Accept>
bool LoadInOrder(const std::vector<std::string>& names, const Load& load, const Accept& accept) {
  const size_t threads = size_t(std::max(1, cv::getNumThreads()));
  const size_t window = kFilesAheadPerThread * threads;
  std::vector<LoadedFile> ready(window);
  std::vector<char> isReady(window, 0);
  std::mutex mutex;
  std::condition_variable moved;
  size_t taken = 0;     // files handed to a thread
  size_t accepted = 0;  // files handed on in order
  bool stopped = false;
  bool allAccepted = true;
  std::exception_ptr failure;

  const auto work = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      moved.wait(lock, [&] { return stopped || taken >= names.size() || taken < accepted + window; });
      if (stopped || taken >= names.size()) return;
      const size_t n = taken++;
      lock.unlock();
      LoadedFile file = load(names[n]);
      lock.lock();
      ready[n % window] = std::move(file);
      isReady[n % window] = 1;
      try {
        while (!stopped && accepted < names.size() && isReady[accepted % window]) {
          LoadedFile& next = ready[accepted % window];
          isReady[accepted % window] = 0;
          if (!accept(accepted, next)) {
            allAccepted = false;
            stopped = true;
          }
          next = LoadedFile{};
          ++accepted;
        }
      } catch (...) {
        failure = std::current_exception();
        stopped = true;
      }
      moved.notify_all();
    }
  };
  try {
    cv::parallel_for_(cv::Range(0, int(threads)), [&](const cv::Range& range) {
      for (int t = range.start; t < range.end; ++t) work();
    }, double(threads));
  } catch (...) {
    // No thread could be started: this one does the work.
    if (taken == 0) work();
  }
  if (failure) std::rethrow_exception(failure);
  return allAccepted;
}

bool CheckColours(const RunState& run, const std::string& fileName, size_t colours) {
  const size_t limit = run.useMask ? kMaxColoursWithMask : kMaxColoursWithoutMask;
  if (colours <= limit) return true;
  const std::string counts = " : Too many Colors (" + std::to_string(colours) +
                             "). Only " + std::to_string(limit) + " different colors are allowed";
  if (run.useMask) {
    PrintLine("Error in Image " + fileName + counts + " for images with alpha information ");
  } else {
    PrintLine("An error occured while checking image " + fileName + counts +
              " for images without alpha information ");
  }
  return false;
}

bool LoadSourceImages(RunState& run) {
  PrintLine("Loading image files...");
  const auto accept = [&run](size_t n, LoadedFile& file) {
    const std::string& name = run.imageFileNames[n];
    PrintLine("Loading " + name);
    if (!file.loaded) {
      PrintLine("Could not load image " + ShownName(name) + "...");
      return false;
    }
    if (!CheckColours(run, name, file.colours)) return false;
    run.totalSourceBytes += file.fileBytes;
    run.sourceImages.push_back(std::move(file.picture));
    return true;
  };
  return LoadInOrder(run.imageFileNames, LoadSourceImage, accept);
}

bool LoadMasks(RunState& run) {
  PrintLine("Loading mask files...");
  const auto accept = [&run](size_t j, LoadedFile& file) {
    const std::string& name = run.maskFileNames[j];
    PrintLine("Loading " + name);
    if (!file.loaded) {
      PrintLine("Could not load mask image " + ShownName(name) + "...");
      return false;
    }
    if (file.size != run.sourceImages[j].size()) {
      PrintLine("source image and source mask must have the same dimensions...");
      return false;
    }
    if (file.loadedType != CV_8UC1) {
      PrintLine("converting Mask. From " + std::to_string(BitsPerChannel(CV_MAT_DEPTH(file.loadedType))) +
                " bpp and " + std::to_string(CV_MAT_CN(file.loadedType)) +
                " channels to 8 bpp and 1 channel");
      if (file.picture.empty()) {
        PrintLine("Could not load mask image " + ShownName(name) + "...");
        return false;
      }
    }
    run.sourceMasks.push_back(std::move(file.picture));
    run.totalSourceBytes += file.fileBytes;
    return true;
  };
  return LoadInOrder(run.maskFileNames, LoadMask, accept);
}

}  // namespace

bool LoadImages(RunState& run) {
  if (!LoadSourceImages(run)) return false;
  if (run.maskFileNames.empty()) return true;
  return LoadMasks(run);
}

uint64_t FileSize(const std::string& fileName) {
  const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat status {};
  const bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  close(fd);
  return regular ? static_cast<uint64_t>(status.st_size) : 0;
}

}  // namespace zef::frontend
