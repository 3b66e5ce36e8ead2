// The stream rules that the reader's messages depend on.
#include <gtest/gtest.h>

#include "archive/InputBuffer.h"

namespace {

using zef::InputBuffer;

const uint8_t kBytes[] = {0x11, 0x22, 0x33, 0x44, 0x55};

TEST(InputBuffer, ReadsLittleEndianValuesInOrder) {
  InputBuffer in(kBytes, sizeof kBytes);
  uint16_t word = 0;
  uint8_t byte = 0;
  in.ReadU16(word);
  in.ReadU8(byte);
  EXPECT_EQ(word, 0x2211);
  EXPECT_EQ(byte, 0x33);
  EXPECT_TRUE(in.Good());
  EXPECT_EQ(in.Tell(), 3);
}

TEST(InputBuffer, ReadingExactlyToTheEndIsNotShort) {
  InputBuffer in(kBytes, 4);
  uint32_t value = 0;
  in.ReadU32(value);
  EXPECT_EQ(value, 0x44332211u);
  EXPECT_TRUE(in.Good());
  EXPECT_EQ(in.Tell(), 4);
}

TEST(InputBuffer, ShortReadDeliversWhatIsThereAndFails) {
  InputBuffer in(kBytes + 3, 2);
  uint32_t value = 0xAABBCCDD;
  in.ReadU32(value);
  // The two bytes that came replace the low end; the rest stays.
  EXPECT_EQ(value, 0xAABB5544u);
  EXPECT_TRUE(in.HitEndOrFailed());
  EXPECT_TRUE(in.Failed());
  EXPECT_EQ(in.Tell(), -1);
}

TEST(InputBuffer, ReadsAfterFailureDeliverNothing) {
  InputBuffer in(kBytes, 1);
  uint16_t word = 0;
  in.ReadU16(word);
  uint8_t byte = 0x77;
  in.ReadU8(byte);
  EXPECT_EQ(byte, 0x77);
  EXPECT_EQ(in.Position(), 1u);
  EXPECT_EQ(in.Take(1), nullptr);
}

TEST(InputBuffer, SeekIsNotDoneOnAFailedStream) {
  InputBuffer in(kBytes, sizeof kBytes);
  uint8_t bytes[8];
  EXPECT_EQ(in.Read(bytes, sizeof bytes), sizeof kBytes);
  in.Seek(1);
  EXPECT_EQ(in.Tell(), -1);
  uint8_t byte = 0;
  in.ReadU8(byte);
  EXPECT_EQ(byte, 0);
}

TEST(InputBuffer, SeekPastTheEndSucceedsAndTheNextReadIsShort) {
  InputBuffer in(kBytes, sizeof kBytes);
  in.Seek(100);
  EXPECT_EQ(in.Tell(), 100);
  EXPECT_EQ(in.Remaining(), 0u);
  uint8_t byte = 0;
  in.ReadU8(byte);
  EXPECT_TRUE(in.Failed());
}

TEST(InputBuffer, SkipActsAsReadsOfThatManyBytes) {
  InputBuffer in(kBytes, sizeof kBytes);
  in.Skip(0);
  EXPECT_TRUE(in.Good());
  in.Skip(4);
  EXPECT_EQ(in.Tell(), 4);
  in.Skip(2);
  EXPECT_TRUE(in.Failed());
  EXPECT_EQ(in.Position(), sizeof kBytes);
}

TEST(InputBuffer, TakeLeavesTheStreamAloneWhenBytesAreMissing) {
  InputBuffer in(kBytes, sizeof kBytes);
  ASSERT_NE(in.Take(3), nullptr);
  EXPECT_EQ(in.Take(3), nullptr);
  EXPECT_TRUE(in.Good());
  EXPECT_EQ(in.Tell(), 3);
}

TEST(InputBuffer, MarkerNeedsBothBytesAndNoShortRead) {
  const uint8_t marker[2] = {0x11, 0x22};
  InputBuffer whole(kBytes, sizeof kBytes);
  EXPECT_TRUE(whole.ReadMarker(marker));
  InputBuffer cut(kBytes, 1);
  EXPECT_FALSE(cut.ReadMarker(marker));
  InputBuffer wrong(kBytes + 1, 4);
  EXPECT_FALSE(wrong.ReadMarker(marker));
}

}  // namespace
