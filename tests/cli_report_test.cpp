// The summary's number formats: ratio and bits per character, the zero-size
// and zero-time rules, the speed's integer part, and the progress value.
#include <gtest/gtest.h>

#include "report.h"

namespace velt::app {
namespace {

TEST(CliReport, RatioAndBitsPerCharacter) {
  EXPECT_EQ(ratioText(250, 1000), "Ratio     :  25.00 %          2.0000 bpc\n");
  EXPECT_EQ(ratioText(10, 0), "Ratio     : 1000.00 %          80.0000 bpc\n");  // 0 counts as 1
  EXPECT_EQ(ratioText(1, 3), "Ratio     :  33.33 %          2.6667 bpc\n");
  EXPECT_EQ(ratioText(0, 0), "Ratio     :   0.00 %          0.0000 bpc\n");
}

TEST(CliReport, TimeAndSpeed) {
  // A zero time leaves the speed line out.
  EXPECT_EQ(timeAndSpeedText(0.0f, 5000), "Done   \nTime      : 0.00 sec\n");
  // Speed = integer part of size / (t * 1000 + 1).
  EXPECT_EQ(timeAndSpeedText(1.0f, 1001000),
            "Done   \nTime      : 1.00 sec\nSpeed     : 1000 kB/sec\n");
  EXPECT_EQ(timeAndSpeedText(0.002f, 5), "Done   \nTime      : 0.00 sec\nSpeed     : 1 kB/sec\n");
  EXPECT_EQ(timeAndSpeedText(0.5f, 0), "Done   \nTime      : 0.50 sec\nSpeed     : 0 kB/sec\n");
}

TEST(CliReport, ProgressValueIsRewrittenInPlace) {
  EXPECT_EQ(progressText(0.001), "  0 % \b\b\b\b\b\b");
  EXPECT_EQ(progressText(16.385), " 16 % \b\b\b\b\b\b");
  EXPECT_EQ(progressText(65.537), " 66 % \b\b\b\b\b\b");
  EXPECT_EQ(progressText(100.0), "100 % \b\b\b\b\b\b");
}

}  // namespace
}  // namespace velt::app
