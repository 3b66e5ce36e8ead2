// The three image data decoders. Run-length data goes through one loop for
// both run forms; it decodes straight into the image rows, and, when the
// data cannot hold the image or the image cannot be made, runs without an
// image to find which check fails.
#include <array>
#include <climits>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "archive/ReaderMessages.h"
#include "archive/ArchiveDecoder.h"

namespace zef {

using namespace reader_messages;

namespace {

constexpr int kChannels = 3;

// One decoded pixel in output byte order.
struct Pixel {
  uint8_t bytes[kChannels];
};

Pixel PixelOf(Nibbles nibbles, bool blueFirst) {
  const uint8_t blue = uint8_t(nibbles.blue << 4), green = uint8_t(nibbles.green << 4),
                red = uint8_t(nibbles.red << 4);
  return blueFirst ? Pixel{{blue, green, red}} : Pixel{{red, green, blue}};
}

// Runs are written with wide stores of the repeated pixel, each stepping
// over whole pixels and spilling a little past the run. The spill lands
// on pixels that later runs overwrite, so it is only allowed where the
// image's buffer goes on for a store beyond the run; elsewhere (the last
// run of the image) pixels are written one at a time.
#if defined(__SSE2__)
constexpr size_t kStoreBytes = 16;
constexpr size_t kStoreStep = 15;  // five pixels
#else
constexpr size_t kStoreBytes = 8;
constexpr size_t kStoreStep = 6;  // two pixels
#endif

inline void FillRun(uint8_t* at, const Pixel& pixel, uint32_t count, const uint8_t* end) {
  const size_t bytes = size_t(count) * kChannels;
  if (size_t(end - at) < bytes + kStoreBytes) {
    for (uint32_t n = 0; n < count; ++n, at += kChannels) std::memcpy(at, pixel.bytes, kChannels);
    return;
  }
  // The pixel's bytes repeated: b g r b g r b g | r b g r b g r b.
  const uint64_t one = uint64_t(pixel.bytes[0]) | uint64_t(pixel.bytes[1]) << 8 |
                       uint64_t(pixel.bytes[2]) << 16;
  const uint64_t low = one | one << 24 | one << 48;
#if defined(__SSE2__)
  const uint64_t high = one >> 16 | one << 8 | one << 32 | one << 56;
  const __m128i repeated = _mm_set_epi64x(int64_t(high), int64_t(low));
  for (size_t offset = 0; offset < bytes; offset += kStoreStep) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + offset), repeated);
  }
#else
  for (size_t offset = 0; offset < bytes; offset += kStoreStep) std::memcpy(at + offset, &low, sizeof low);
#endif
}

uint32_t PaletteIndexOf(uint8_t code, uint8_t alphaPosition, uint8_t alphaMode, uint8_t alphaBits) {
  if (alphaMode == kAlphaModeNone) return code;
  if (alphaPosition == kAlphaPositionLow) return code >> (alphaBits == 1 ? 1 : 2);
  return code & (alphaBits == 1 ? 0x7F : 0x3F);
}

constexpr uint32_t kPixelCodes = 256;

// Version 3 runs: pixel code, run length. A code is looked up in the
// palette when it first occurs, so that an image of a few colours does
// not pay for all 256 codes.
class PixelCodeRuns {
 public:
  using Value = uint8_t;
  static constexpr uint32_t kRunSize = kPixelCodeRunSize;

  PixelCodeRuns(const PaletteColours& palette, uint8_t alphaPosition, uint8_t alphaMode,
                uint8_t alphaBits, bool blueFirst)
      : palette_(palette),
        alphaPosition_(alphaPosition),
        alphaMode_(alphaMode),
        alphaBits_(alphaBits),
        blueFirst_(blueFirst) {}
  static void Parse(const uint8_t* run, Value& value, uint8_t& length) {
    value = run[0];
    length = run[1];
  }
  static void ReadSlowly(InputBuffer& in, Value& value, uint8_t& length) {
    in.ReadU8(value);
    in.ReadU8(length);
  }
  // The alpha code packed beside the index.
  uint8_t AlphaOf(Value code) const {
    const int bits = alphaBits_ == 1 ? 1 : 2;
    return alphaPosition_ == kAlphaPositionLow ? uint8_t(code & ((1 << bits) - 1)) : uint8_t(code >> (8 - bits));
  }
  // The code's pixel, or null when its palette index is outside the palette.
  const Pixel* Find(Value code) {
    if (state_[code] == kUnknown) {
      const uint32_t index = PaletteIndexOf(code, alphaPosition_, alphaMode_, alphaBits_);
      state_[code] = index < palette_.Count() ? kInPalette : kOutside;
      if (state_[code] == kInPalette) {
        pixels_[code] = PixelOf(SplitColour(palette_[index], alphaPosition_), blueFirst_);
      }
    }
    return state_[code] == kInPalette ? &pixels_[code] : nullptr;
  }

 private:
  enum State : uint8_t { kUnknown, kInPalette, kOutside };
  const PaletteColours& palette_;
  uint8_t alphaPosition_, alphaMode_, alphaBits_;
  bool blueFirst_;
  std::array<State, kPixelCodes> state_{};
  std::array<Pixel, kPixelCodes> pixels_;
};

// Version 1 and 2 runs: colour word, run length; the alpha nibble is ignored.
class ColourWordRuns {
 public:
  using Value = uint16_t;
  static constexpr uint32_t kRunSize = kColourWordRunSize;

  ColourWordRuns(uint8_t alphaPosition, bool blueFirst)
      : alphaPosition_(alphaPosition), blueFirst_(blueFirst) {}
  static void Parse(const uint8_t* run, Value& value, uint8_t& length) {
    value = uint16_t(run[0] | run[1] << 8);
    length = run[2];
  }
  static void ReadSlowly(InputBuffer& in, Value& value, uint8_t& length) {
    in.ReadU16(value);
    in.ReadU8(length);
  }
  uint8_t AlphaOf(Value word) const { return SplitColour(word, alphaPosition_).alpha; }
  const Pixel* Find(Value word) {
    pixel_ = PixelOf(SplitColour(word, alphaPosition_), blueFirst_);
    return &pixel_;
  }

 private:
  uint8_t alphaPosition_;
  bool blueFirst_;
  Pixel pixel_{};
};

// Reads the runs of one line in place from the stream's bytes, keeping the
// position out of the stream object while pixels are stored; the stream
// catches up when the line ends, however it ends, or before it is read
// directly.
class RunCursor {
 public:
  explicit RunCursor(InputBuffer& in)
      : in_(in), left_(in.Remaining()), next_(left_ > 0 ? in.Data() + in.Position() : nullptr) {}
  ~RunCursor() { CatchUp(); }
  RunCursor(const RunCursor&) = delete;
  RunCursor& operator=(const RunCursor&) = delete;

  const uint8_t* Take(uint32_t size) {
    if (left_ < size) return nullptr;
    const uint8_t* bytes = next_;
    next_ += size;
    left_ -= size;
    taken_ += size;
    return bytes;
  }
  // After this only the stream reads.
  void CatchUp() {
    in_.Skip(taken_);
    taken_ = left_ = 0;
  }

 private:
  InputBuffer& in_;
  uint64_t left_;
  const uint8_t* next_;
  uint64_t taken_ = 0;
};

// The checks of the run-length data, in their order, and with kWrite the
// pixels. Null when the data is sound, else the message. A value that a
// short read does not deliver stays as the run before left it, so a stale
// run length can still make a cut-off run too long.
template <bool kWrite, typename Runs>
const char* DecodeRuns(Runs& runs, uint32_t width, uint32_t height, InputBuffer& in,
                       const ImageStore::Buffers* image) {
  uint32_t expected = 0, runsRead = 0;
  uint16_t remaining = 0;
  typename Runs::Value value = 0;
  uint8_t length = 0;
  in.ReadU32(expected);
  for (uint32_t y = 0; y < height; ++y) {
    in.ReadU16(remaining);
    const size_t rowBytes = size_t(width) * kChannels;
    uint8_t* row = kWrite ? image->pixels + y * rowBytes : nullptr;
    const uint8_t* end = kWrite ? image->pixels + height * rowBytes : nullptr;
    uint8_t* alphaRow = kWrite && image->alpha != nullptr ? image->alpha + size_t(y) * width : nullptr;
    RunCursor cursor(in);
    uint64_t x = 0;
    while (x < width) {
      // A run read in place leaves the stream good; only a run read from
      // the stream can find it at its end, and that run is the last either way.
      bool fromStream = false;
      if (const uint8_t* run = cursor.Take(Runs::kRunSize)) {
        Runs::Parse(run, value, length);
      } else {
        cursor.CatchUp();
        Runs::ReadSlowly(in, value, length);
        fromStream = true;
      }
      remaining = uint16_t(remaining - 1);
      ++runsRead;
      x += length;
      if (x > width) return kRleLineTooLong;
      const Pixel* pixel = runs.Find(value);
      if (pixel == nullptr) return kOutsidePalette;
      if constexpr (kWrite) {
        FillRun(row + (x - length) * kChannels, *pixel, length, end);
        if (alphaRow != nullptr) std::memset(alphaRow + (x - length), runs.AlphaOf(value), length);
      }
      if (fromStream && in.HitEndOrFailed()) return kTooShort;
    }
    if (remaining != 0) return kLineEntriesNotValid;
  }
  if (runsRead != expected) return kImageEntriesNotValid;
  return nullptr;
}

// The least data that run-length lines of this size can be read from: the
// counts, and a run per 255 pixels of every line.
uint64_t LeastRunBytes(uint32_t width, uint32_t height, uint32_t runSize) {
  const uint64_t runsPerLine = (uint64_t{width} + kMaxRunLength - 1) / kMaxRunLength;
  return kImageEntryCountSize + uint64_t{height} * (kLineEntryCountSize + runsPerLine * runSize);
}

}  // namespace

template <typename Runs>
bool ArchiveDecoder::ReadRuns(Runs& runs, uint32_t width, uint32_t height, InputBuffer& in,
                              ImageStore& store, bool alpha) {
  if (width == 0 || height == 0) return Fail(kWrongImageData);
  // The least bytes the line counts and runs need tell whether the data
  // could hold the image at all; only then may the limit speak.
  const bool canHold = in.Remaining() >= LeastRunBytes(width, height, Runs::kRunSize);
  if (canHold && !WithinLimits(width, height)) return false;
  if (!store.KeepsPixels()) {
    const char* message = DecodeRuns<false>(runs, width, height, in, nullptr);
    return message == nullptr || Fail(message);
  }
  ImageStore::Buffers image;
  if (canHold) image = store.NewImage(width, height, alpha);
  if (image.pixels == nullptr) {
    // Data too short for the image must fail somewhere; the checks alone
    // say where, and no image is made for it.
    const char* message = DecodeRuns<false>(runs, width, height, in, nullptr);
    return Fail(message != nullptr ? message : kImageTooLarge);
  }
  if (const char* message = DecodeRuns<true>(runs, width, height, in, &image)) return Fail(message);
  return true;
}

bool ArchiveDecoder::ReadPaletteImage(uint32_t width, uint32_t height, uint8_t alphaPosition,
                                      uint8_t alphaMode, uint8_t alphaBits, InputBuffer& in,
                                      const PaletteColours& palette, ImageStore& store, bool alpha) {
  PixelCodeRuns runs(palette, alphaPosition, alphaMode, alphaBits, blueFirst_);
  return ReadRuns(runs, width, height, in, store, alpha && alphaMode != kAlphaModeNone);
}

bool ArchiveDecoder::ReadColorImage(uint32_t width, uint32_t height, uint8_t alphaPosition,
                                    InputBuffer& in, ImageStore& store, bool alpha) {
  ColourWordRuns runs(alphaPosition, blueFirst_);
  return ReadRuns(runs, width, height, in, store, alpha);
}

bool ArchiveDecoder::ReadColorImageRaw(uint32_t width, uint32_t height, uint8_t alphaPosition,
                                       InputBuffer& in, ImageStore& store, bool alpha) {
  if (width == 0 || height == 0) return Fail(kWrongImageData);
  // Raw data is checked for its length only: data too short fails, whatever
  // it holds, after reading up to its end.
  const uint64_t pixels = uint64_t{width} * height;
  if (pixels > in.Remaining() / kColourWordSize) {
    in.Skip(in.Remaining() + 1);
    return Fail(kTooShort);
  }
  if (!WithinLimits(width, height)) return false;
  if (!store.KeepsPixels()) {
    in.Skip(size_t(pixels * kColourWordSize));
    return true;
  }
  const ImageStore::Buffers image = store.NewImage(width, height, alpha);
  if (image.pixels == nullptr) return Fail(kImageTooLarge);
  const uint8_t* word = in.Take(size_t(pixels * kColourWordSize));
  uint8_t* pixel = image.pixels;
  for (uint64_t n = 0; n < pixels; ++n, word += kColourWordSize, pixel += kChannels) {
    const Nibbles nibbles = SplitColour(uint16_t(word[0] | word[1] << 8), alphaPosition);
    // Only raw data blacks out pixels whose alpha nibble is 0.
    const Pixel value = nibbles.alpha == 0 ? Pixel{} : PixelOf(nibbles, blueFirst_);
    std::memcpy(pixel, value.bytes, kChannels);
    if (image.alpha != nullptr) image.alpha[n] = nibbles.alpha;
  }
  return true;
}

}  // namespace zef
