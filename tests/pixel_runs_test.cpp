// The stretch finders that the writer's passes rely on, at every position
// around their block and word boundaries, on rows sized exactly so that a
// read past the end shows under AddressSanitizer.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "writer/PixelRuns.h"

namespace {

int NaiveEndOfSameBgr(const std::vector<uint8_t>& row, int x, int width) {
  int end = x + 1;
  while (end < width && row[size_t(end) * 3] == row[size_t(x) * 3] &&
         row[size_t(end) * 3 + 1] == row[size_t(x) * 3 + 1] &&
         row[size_t(end) * 3 + 2] == row[size_t(x) * 3 + 2]) {
    ++end;
  }
  return end;
}

// Widths that put the change before, on and after 8-, 32- and 48-byte blocks.
constexpr int kWidths[] = {1, 2, 3, 7, 8, 9, 10, 11, 12, 15, 16, 17, 18, 31, 32, 33, 34, 45, 64, 100, 150};

TEST(PixelRuns, SameBgrEndsAtTheFirstPixelWithAnyOtherByte) {
  for (int width : kWidths) {
    for (int changed = 0; changed < width; ++changed) {
      for (int channel = 0; channel < 3; ++channel) {
        std::vector<uint8_t> row(size_t(width) * 3, 0x5A);
        row[size_t(changed) * 3 + size_t(channel)] ^= 1;
        for (int x = 0; x < width; ++x) {
          ASSERT_EQ(zef::EndOfSameBgr(row.data(), x, width), NaiveEndOfSameBgr(row, x, width))
              << "width " << width << " changed " << changed << " channel " << channel << " x " << x;
        }
      }
    }
  }
}

TEST(PixelRuns, SameBgrKeepsPixelsApartWhoseBytesRepeatAcrossPixels) {
  // A row b g r b g r ... where the repeated bytes of a shifted compare
  // would line up if the pixel size were taken wrongly.
  const int width = 40;
  std::vector<uint8_t> row(size_t(width) * 3);
  for (size_t i = 0; i < row.size(); ++i) row[i] = uint8_t(i % 3 == 0 ? 1 : 2);
  row[size_t(30) * 3 + 1] = 1;  // pixel 30 becomes 1 1 2
  EXPECT_EQ(zef::EndOfSameBgr(row.data(), 0, width), 30);
  EXPECT_EQ(zef::EndOfSameBgr(row.data(), 30, width), 31);
  EXPECT_EQ(zef::EndOfSameBgr(row.data(), 31, width), width);
}

TEST(PixelRuns, SameByteAndSamePairEndAtTheFirstChange) {
  for (int width : kWidths) {
    for (int changed = 0; changed < width; ++changed) {
      std::vector<uint8_t> first(size_t(width), 7), second(size_t(width), 9);
      std::vector<uint8_t> changedFirst = first, changedSecond = second;
      changedFirst[size_t(changed)] = 8;
      changedSecond[size_t(changed)] = 8;
      for (int x = 0; x < width; ++x) {
        const int expected = x < changed ? changed : x == changed ? x + 1 : width;
        ASSERT_EQ(zef::EndOfSameByte(changedFirst.data(), x, width), expected) << width << " " << x;
        ASSERT_EQ(zef::EndOfSamePair(changedFirst.data(), second.data(), x, width), expected);
        ASSERT_EQ(zef::EndOfSamePair(first.data(), changedSecond.data(), x, width), expected);
      }
    }
  }
}

TEST(PixelRuns, AStretchEndsAtTheGivenWidthEvenWhenTheRowGoesOn) {
  const std::vector<uint8_t> row(96, 3);
  EXPECT_EQ(zef::EndOfSameBgr(row.data(), 0, 20), 20);
  EXPECT_EQ(zef::EndOfSameByte(row.data(), 5, 41), 41);
  EXPECT_EQ(zef::EndOfSamePair(row.data(), row.data(), 0, 33), 33);
}

}  // namespace
