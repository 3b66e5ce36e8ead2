// The size report after a conversion and the file sizes it adds up.
#include <gtest/gtest.h>

#include <fstream>

#include "TestImages.h"
#include "frontend/LoadImages.h"
#include "frontend/WriteArchive.h"

namespace {

using zef::frontend::FileSize;
using zef::frontend::SizeReport;

TEST(SizeReportTest, KilobytesAndPercentage) {
  EXPECT_EQ(SizeReport(2048, 512),
            "Uncompressed Size: 2.0 KB, Compressed Size: 0.5 KB (25.00%)");
}

TEST(SizeReportTest, ArchiveLargerThanItsSourcesIsAboveHundredPercent) {
  EXPECT_EQ(SizeReport(1000, 1500),
            "Uncompressed Size: 1.0 KB, Compressed Size: 1.5 KB (150.00%)");
}

TEST(SizeReportTest, SizesBeyondFourGibibytesAreNotWrapped) {
  const uint64_t fiveGibibytes = uint64_t{5} << 30;
  EXPECT_EQ(SizeReport(fiveGibibytes, uint64_t{1} << 30),
            "Uncompressed Size: 5242880.0 KB, Compressed Size: 1048576.0 KB (20.00%)");
}

TEST(FileSizeTest, RegularFileGivesItsSizeAndAnythingElseZero) {
  zeftest::TempDir dir;
  zeftest::WriteFile(dir / "five", {1, 2, 3, 4, 5});
  EXPECT_EQ(FileSize((dir / "five").string()), 5u);
  EXPECT_EQ(FileSize((dir / "missing").string()), 0u);
  EXPECT_EQ(FileSize(dir.path().string()), 0u);
}

}  // namespace
