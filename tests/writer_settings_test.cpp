// Settings per version, setAlpha and the pending error text.
#include <gtest/gtest.h>

#include "writer/ZefImgWriter.h"

using zef::HeaderBytes;
using zef::ZefImgWriter;

namespace {

std::vector<int> HeaderOf(const ZefImgWriter& writer) {
  const HeaderBytes& h = writer.Header();
  return {h.channelCount, h.valueSize, h.colourBits, h.alphaBits,
          h.alphaMode,    h.alphaPosition, h.compressionFlag};
}

TEST(WriterSettings, VersionsSetTheirHeaderBytes) {
  ZefImgWriter writer;
  EXPECT_EQ(writer.Version(), 2);
  EXPECT_EQ(HeaderOf(writer), (std::vector<int>{3, 2, 12, 4, 2, 16, 1}));
  EXPECT_EQ(writer.StartIndex(), 0);
  EXPECT_FALSE(writer.HasError());

  writer.SetVersion(3);
  EXPECT_EQ(writer.Version(), 3);
  EXPECT_EQ(HeaderOf(writer), (std::vector<int>{3, 1, 6, 2, 1, 16, 1}));
}

TEST(WriterSettings, RefusedVersionsOnlyRecordAMessage) {
  ZefImgWriter writer;
  writer.SetVersion(1);
  EXPECT_EQ(writer.GetError(), "error: version 1 not longer supported");
  EXPECT_EQ(writer.Version(), 2);

  writer.SetVersion(3);
  for (int version : {0, 4, -7}) {
    writer.SetVersion(version);
    EXPECT_EQ(writer.GetError(), "error: wrong version NR (" + std::to_string(version) + ")");
    EXPECT_EQ(writer.Version(), 3);
    EXPECT_EQ(HeaderOf(writer), (std::vector<int>{3, 1, 6, 2, 1, 16, 1}));
  }
}

TEST(WriterSettings, SetVersionResetsTheStartIndex) {
  ZefImgWriter writer;
  writer.SetStartIndex(42);
  writer.SetVersion(3);
  EXPECT_EQ(writer.StartIndex(), 0);
  writer.SetStartIndex(-5);  // no check: the front end limits it
  EXPECT_EQ(writer.StartIndex(), -5);
}

TEST(WriterSettings, ErrorTextIsEmptiedByGetErrorOnly) {
  ZefImgWriter writer;
  writer.SetError("first");
  writer.SetVersion(3);  // a successful call leaves the message pending
  EXPECT_TRUE(writer.HasError());
  writer.SetError("second");  // replaces, never appends
  EXPECT_EQ(writer.GetError(), "second");
  EXPECT_EQ(writer.GetError(), "");
  EXPECT_FALSE(writer.HasError());
}

TEST(WriterSettings, SetAlphaPicksTheAlphaBitsOfVersion3) {
  ZefImgWriter writer;
  writer.SetVersion(3);
  writer.setAlpha(0);
  EXPECT_EQ(HeaderOf(writer), (std::vector<int>{3, 1, 8, 0, 0, 16, 1}));
  writer.setAlpha(2);
  EXPECT_EQ(HeaderOf(writer), (std::vector<int>{3, 1, 7, 1, 1, 16, 1}));
  writer.setAlpha(4);
  EXPECT_EQ(HeaderOf(writer), (std::vector<int>{3, 1, 6, 2, 1, 16, 1}));
  EXPECT_FALSE(writer.HasError());
}

TEST(WriterSettings, SetAlphaRefusals) {
  ZefImgWriter writer;  // version 2
  writer.setAlpha(3);
  EXPECT_EQ(writer.GetError(), "wrong alpha values");
  writer.setAlpha(2);
  EXPECT_EQ(writer.GetError(), "error: setAlpha only used in version3 (version: 2)");
  EXPECT_EQ(HeaderOf(writer), (std::vector<int>{3, 2, 12, 4, 2, 16, 1}));

  writer.SetVersion(3);
  writer.setAlpha(0);
  writer.setAlpha(3);
  EXPECT_EQ(writer.GetError(), "wrong alpha values");
  EXPECT_EQ(HeaderOf(writer), (std::vector<int>{3, 1, 8, 0, 0, 16, 1}));
}

}  // namespace
