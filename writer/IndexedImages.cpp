// Palette normalisation and exact palettes for version 4.
#include "writer/IndexedImages.h"

#include <algorithm>
#include <array>

#include "archive/FormatMessage.h"
#include "archive/ZefFormat.h"

namespace zef {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFF;
// No entry has this key: alpha 0 makes key 0, any other alpha sets the top
// byte. (kNone is a key: opaque white.)
constexpr uint32_t kNoKey = 1;

// One number per entry as it is shown: every entry of alpha 0 is the
// same invisible one.
uint32_t KeyOf(const PaletteEntry& entry) {
  if (entry.alpha == 0) return 0;
  return uint32_t(entry.red) | uint32_t(entry.green) << 8 | uint32_t(entry.blue) << 16 |
         uint32_t(entry.alpha) << 24;
}

PaletteEntry EntryOf(uint32_t key) {
  return {uint8_t(key), uint8_t(key >> 8), uint8_t(key >> 16), uint8_t(key >> 24)};
}

Status CheckSize(const IndexedImage& image, int n) {
  if (image.width > kMaxImageWidth) {
    return {Error::kBadInput, FormatMessage("img %d: maximum width of an image is %d", n, kMaxImageWidth)};
  }
  if (image.width <= 0 || image.height <= 0) {
    return {Error::kBadInput, FormatMessage("img %d: version 4 needs an image of at least one pixel (%d x %d)",
                                            n, image.width, image.height)};
  }
  if (image.indices.size() != uint64_t(image.width) * uint64_t(image.height)) {
    return {Error::kBadInput, FormatMessage("img %d: %zu indices for %d x %d pixels", n, image.indices.size(),
                                            image.width, image.height)};
  }
  return {};
}

// Exact colours and alphas to entry numbers: open addressing over twice
// the most entries an image may have, so a probe ends quickly.
class EntryTable {
 public:
  EntryTable() { slots_.fill(kNone); }
  // The entry number of `key`, adding it; kNone once a 257th would be added.
  uint32_t Find(uint32_t key, std::vector<PaletteEntry>& palette) {
    uint32_t slot = (key * 0x9E3779B1u) >> (32 - kSlotBits);
    while (slots_[slot] != kNone) {
      if (keys_[slot] == key) return slots_[slot];
      slot = (slot + 1) & (kSlots - 1);
    }
    if (palette.size() == kV4MaxEntries) return kNone;
    keys_[slot] = key;
    slots_[slot] = uint32_t(palette.size());
    palette.push_back(EntryOf(key));
    return slots_[slot];
  }

 private:
  static constexpr int kSlotBits = 10;
  static constexpr uint32_t kSlots = 1u << kSlotBits;
  std::array<uint32_t, kSlots> slots_;
  std::array<uint32_t, kSlots> keys_{};
};

// Each key's first entry number among at most 256 entries: open addressing
// over twice as many slots.
class FirstEntries {
 public:
  FirstEntries() { entries_.fill(kEmpty); }
  // The first entry given `key`: `entry` when none was.
  uint16_t Find(uint32_t key, uint16_t entry) {
    uint32_t slot = (key * 0x9E3779B1u) >> (32 - kSlotBits);
    while (entries_[slot] != kEmpty) {
      if (keys_[slot] == key) return entries_[slot];
      slot = (slot + 1) & (kSlots - 1);
    }
    keys_[slot] = key;
    entries_[slot] = entry;
    return entry;
  }

 private:
  static constexpr int kSlotBits = 9;
  static constexpr uint32_t kSlots = 1u << kSlotBits;
  static constexpr uint16_t kEmpty = 0xFFFF;
  std::array<uint16_t, kSlots> entries_;
  std::array<uint32_t, kSlots> keys_{};
};

}  // namespace

Status NormaliseIndexed(const IndexedImage& in, int n, IndexedImage& out) {
  Status status = CheckSize(in, n);
  if (!status.Ok()) return status;
  std::vector<uint32_t> keys;
  keys.reserve(in.palette.size());
  for (const PaletteEntry& entry : in.palette) keys.push_back(KeyOf(entry));
  if (keys.size() > kV4MaxEntries) {
    std::vector<uint32_t> distinct = keys;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    if (distinct.size() > kV4MaxEntries) {
      return {Error::kPaletteTooBig,
              FormatMessage("img %d: palette too big (%zu different entries, max 256)", n, distinct.size())};
    }
  }
  // Entries that look alike become one class, named by its first entry.
  // Indices are bytes: only the first 256 entries can be used. An index
  // past the palette has a class of its own, which ends every run.
  const size_t reachable = std::min<size_t>(in.palette.size(), kV4MaxEntries);
  constexpr uint16_t kOutside = kV4MaxEntries;
  std::array<uint16_t, kV4MaxEntries> classOf;
  classOf.fill(kOutside);
  FirstEntries firstEntries;
  for (size_t p = 0; p < reachable; ++p) classOf[p] = firstEntries.Find(keys[p], uint16_t(p));

  std::array<uint64_t, kV4MaxEntries> runPixels{};
  std::array<uint32_t, kV4MaxEntries> appearance;
  appearance.fill(kNone);
  std::vector<uint16_t> order;  // classes by first appearance
  const size_t width = size_t(in.width);
  for (size_t y = 0; y < size_t(in.height); ++y) {
    const uint8_t* row = in.indices.data() + y * width;
    for (size_t x = 0; x < width;) {
      const uint8_t index = row[x];
      const uint16_t entryClass = classOf[index];
      if (entryClass == kOutside) {
        return {Error::kBadInput,
                FormatMessage("img %d: index %d at pixel (%zu, %zu) is outside its palette of %zu entries", n,
                              int(index), x, y, in.palette.size())};
      }
      size_t end = x + 1;
      while (end < width && classOf[row[end]] == entryClass) ++end;
      if (appearance[entryClass] == kNone) {
        appearance[entryClass] = uint32_t(order.size());
        order.push_back(entryClass);
      }
      if (end - x >= 2) runPixels[entryClass] += end - x;
      x = end;
    }
  }
  uint16_t first = order[0];
  for (uint16_t entryClass : order) {
    if (runPixels[entryClass] > runPixels[first]) first = entryClass;
  }
  std::array<uint8_t, kV4MaxEntries> newIndexOfClass{};
  std::vector<PaletteEntry> palette;
  palette.reserve(order.size());
  palette.push_back(EntryOf(keys[first]));
  for (uint16_t entryClass : order) {
    if (entryClass == first) continue;
    newIndexOfClass[entryClass] = uint8_t(palette.size());
    palette.push_back(EntryOf(keys[entryClass]));
  }
  std::array<uint8_t, kV4MaxEntries> newIndex{};
  for (size_t p = 0; p < reachable; ++p) newIndex[p] = newIndexOfClass[classOf[p]];
  out.width = in.width;
  out.height = in.height;
  out.indices.resize(in.indices.size());
  for (size_t i = 0; i < in.indices.size(); ++i) out.indices[i] = newIndex[in.indices[i]];
  out.palette = std::move(palette);
  return {};
}

Status IndexedOfView(const ImageView& image, const MaskView* mask, int n, IndexedImage& out) {
  out.width = image.width;
  out.height = image.height;
  out.palette.clear();
  out.indices.resize(size_t(image.width) * size_t(image.height));
  EntryTable table;
  uint8_t* index = out.indices.data();
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* pixel = image.data + size_t(y) * image.stride;
    const uint8_t* maskRow = mask != nullptr ? mask->data + size_t(y) * mask->stride : nullptr;
    uint32_t lastKey = kNoKey, lastIndex = 0;
    for (int x = 0; x < image.width; ++x, pixel += 3) {
      const uint8_t alpha = maskRow != nullptr ? maskRow[x] : 255;
      const uint32_t key = KeyOf({pixel[2], pixel[1], pixel[0], alpha});
      if (key != lastKey) {
        lastIndex = table.Find(key, out.palette);
        if (lastIndex == kNone) {
          return {Error::kPaletteTooBig,
                  FormatMessage("error: palette too big (more than 256 colours with their alpha, image %d)", n)};
        }
        lastKey = key;
      }
      *index++ = uint8_t(lastIndex);
    }
  }
  return {};
}

}  // namespace zef
