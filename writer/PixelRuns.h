// Finding where a stretch of equal pixels ends, 32 or 8 bytes at a time.
// Sprites are mostly long stretches of one colour, so the writer's passes
// cost per stretch and per block of bytes rather than per pixel.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zef {

namespace pixelruns {

inline constexpr uint64_t kEveryByte = 0x0101010101010101u;
inline constexpr bool kWordScan =
    std::endian::native == std::endian::little || std::endian::native == std::endian::big;

inline uint64_t Load64(const uint8_t* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// Position, within the word, of the first byte at which two words differ;
// `difference` is their XOR and not 0.
inline size_t FirstDifferentByte(uint64_t difference) {
  if constexpr (std::endian::native == std::endian::little) {
    return size_t(std::countr_zero(difference)) / 8;
  } else {
    return size_t(std::countl_zero(difference)) / 8;
  }
}

#if defined(__SSE2__)
inline constexpr size_t kBlock = 32;

// Bit i set where byte i of the 32 bytes at `a` equals byte i at `b`.
inline uint32_t SameBytes(const uint8_t* a, const uint8_t* b) {
  const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
  const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
  const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16));
  const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16));
  return uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(a0, b0))) |
         uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(a1, b1))) << 16;
}

// Three pixel-aligned 16-byte pieces: a whole number of 3-byte pixels.
inline constexpr size_t kPatternBytes = 48;

// True when each of the 48 bytes at `a` equals the byte at `b` in the same
// place: one test for a long stretch.
inline bool Same48(const uint8_t* a, const uint8_t* b) {
  __m128i same = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
  same = _mm_and_si128(same, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16)),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16))));
  same = _mm_and_si128(same, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 32)),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 32))));
  return _mm_movemask_epi8(same) == 0xFFFF;
}

// The same against one byte value repeated.
inline uint32_t BytesEqualTo(const uint8_t* a, __m128i value) {
  const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
  const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16));
  return uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(a0, value))) |
         uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(a1, value))) << 16;
}
#endif

}  // namespace pixelruns

// The first pixel after x, in a row of `width` 3-byte pixels, whose bytes
// differ from those of pixel x; `width` when there is none.
inline int EndOfSameBgr(const uint8_t* row, int x, int width) {
  // Pixel p equals pixel p - 1 exactly when every byte equals the byte
  // three places back, so the row is compared with itself shifted by one pixel.
  size_t at = size_t(x + 1) * 3;
  const size_t end = size_t(width) * 3;
#if defined(__SSE2__)
  // Most stretches end within ten pixels: one test finds that end.
  if (at + pixelruns::kBlock <= end) {
    const uint32_t same = pixelruns::SameBytes(row + at, row + at - 3);
    if (same != ~uint32_t{0}) return int((at + size_t(std::countr_zero(~same))) / 3);
  }
  // Once sixteen pixels are known equal, their 48 bytes are the pattern
  // that every further 48 bytes of the stretch repeat: one load per 16 bytes.
  if (at + pixelruns::kPatternBytes <= end &&
      pixelruns::Same48(row + at, row + at - 3)) {
    const uint8_t* pattern = row + at - 3;
    at += pixelruns::kPatternBytes;
    while (at + pixelruns::kPatternBytes <= end && pixelruns::Same48(row + at, pattern)) {
      at += pixelruns::kPatternBytes;
    }
  }
  while (at + pixelruns::kBlock <= end) {
    const uint32_t same = pixelruns::SameBytes(row + at, row + at - 3);
    if (same != ~uint32_t{0}) return int((at + size_t(std::countr_zero(~same))) / 3);
    at += pixelruns::kBlock;
  }
#endif
  if constexpr (pixelruns::kWordScan) {
    while (at + 8 <= end) {
      const uint64_t difference = pixelruns::Load64(row + at) ^ pixelruns::Load64(row + at - 3);
      if (difference != 0) return int((at + pixelruns::FirstDifferentByte(difference)) / 3);
      at += 8;
    }
  }
  while (at < end && row[at] == row[at - 3]) ++at;
  return int(at / 3);
}

// The first position after x, in a row of `width` bytes, whose byte
// differs from byte x; `width` when there is none.
inline int EndOfSameByte(const uint8_t* row, int x, int width) {
  const uint8_t value = row[x];
  size_t at = size_t(x) + 1;
  const size_t end = size_t(width);
#if defined(__SSE2__)
  const __m128i repeated = _mm_set1_epi8(char(value));
  while (at + pixelruns::kBlock <= end) {
    const uint32_t same = pixelruns::BytesEqualTo(row + at, repeated);
    if (same != ~uint32_t{0}) return int(at + size_t(std::countr_zero(~same)));
    at += pixelruns::kBlock;
  }
#endif
  if constexpr (pixelruns::kWordScan) {
    const uint64_t pattern = uint64_t(value) * pixelruns::kEveryByte;
    while (at + 8 <= end) {
      const uint64_t difference = pixelruns::Load64(row + at) ^ pattern;
      if (difference != 0) return int(at + pixelruns::FirstDifferentByte(difference));
      at += 8;
    }
  }
  while (at < end && row[at] == value) ++at;
  return int(at);
}

// The first position after x at which byte `first` or byte `second` of
// the two rows differs from its byte at x; `width` when there is none.
inline int EndOfSamePair(const uint8_t* first, const uint8_t* second, int x, int width) {
  const uint8_t firstValue = first[x], secondValue = second[x];
  size_t at = size_t(x) + 1;
  const size_t end = size_t(width);
#if defined(__SSE2__)
  const __m128i firstRepeated = _mm_set1_epi8(char(firstValue));
  const __m128i secondRepeated = _mm_set1_epi8(char(secondValue));
  while (at + pixelruns::kBlock <= end) {
    const uint32_t same = pixelruns::BytesEqualTo(first + at, firstRepeated) &
                          pixelruns::BytesEqualTo(second + at, secondRepeated);
    if (same != ~uint32_t{0}) return int(at + size_t(std::countr_zero(~same)));
    at += pixelruns::kBlock;
  }
#endif
  if constexpr (pixelruns::kWordScan) {
    const uint64_t firstPattern = uint64_t(firstValue) * pixelruns::kEveryByte;
    const uint64_t secondPattern = uint64_t(secondValue) * pixelruns::kEveryByte;
    while (at + 8 <= end) {
      const uint64_t difference = (pixelruns::Load64(first + at) ^ firstPattern) |
                                  (pixelruns::Load64(second + at) ^ secondPattern);
      if (difference != 0) return int(at + pixelruns::FirstDifferentByte(difference));
      at += 8;
    }
  }
  while (at < end && first[at] == firstValue && second[at] == secondValue) ++at;
  return int(at);
}

}  // namespace zef
