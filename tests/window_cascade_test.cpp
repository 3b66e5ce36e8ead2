// Window placement: columns of 24 windows, 30 pixels apart.
#include <gtest/gtest.h>

#include "frontend/Display.h"

namespace {

using zef::frontend::ArchiveImageCascade;
using zef::frontend::SourceImageCascade;
using zef::frontend::WindowCascade;
using zef::frontend::WindowPosition;

WindowPosition NthPosition(WindowCascade cascade, int n) {
  WindowPosition at{};
  for (int i = 0; i < n; ++i) at = cascade.Next();
  return at;
}

TEST(WindowCascadeTest, SourceColumnsWrapAfterTwentyFourWindows) {
  EXPECT_EQ(NthPosition(SourceImageCascade(), 1).y, 0);
  const WindowPosition last = NthPosition(SourceImageCascade(), 24);
  EXPECT_EQ(last.x, 0);
  EXPECT_EQ(last.y, 690);
  const WindowPosition wrapped = NthPosition(SourceImageCascade(), 25);
  EXPECT_EQ(wrapped.x, 80);
  EXPECT_EQ(wrapped.y, 0);
  EXPECT_EQ(NthPosition(SourceImageCascade(), 49).x, 160);
}

TEST(WindowCascadeTest, ArchiveColumnsStartAtSixHundredAndStepThirty) {
  const WindowPosition first = NthPosition(ArchiveImageCascade(), 1);
  EXPECT_EQ(first.x, 600);
  const WindowPosition wrapped = NthPosition(ArchiveImageCascade(), 25);
  EXPECT_EQ(wrapped.x, 630);
  EXPECT_EQ(wrapped.y, 0);
}

}  // namespace
