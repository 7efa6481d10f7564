#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kit/QVFormat.h"

namespace quorvel {

// Minutes are unlimited and seconds truncate; untrustworthy input reads zero, huge input does not overflow.
TEST(QVTime, MinutesAreUnlimitedSecondsTruncateAndBadInputReadsZero) {
    EXPECT_EQ(qvTime(3725), "62:05");
    EXPECT_EQ(qvTime(59.9), "0:59");
    EXPECT_EQ(qvTime(60.0), "1:00");
    EXPECT_EQ(qvTime(600.5), "10:00");
    EXPECT_EQ(qvTime(std::numeric_limits<double>::quiet_NaN()), "0:00");
    EXPECT_EQ(qvTime(std::numeric_limits<double>::infinity()), "0:00");
    EXPECT_EQ(qvTime(-3), "0:00");
    // Past the 64-bit range the value is held at its end: INT64_MAX = 153722867280912930 min 7 s.
    EXPECT_EQ(qvTime(1e300), "153722867280912930:07");
}

TEST(QVFormat, FollowsCRoundingNotQts) {
    // 0.25 and 0.125 are exact binary fractions: C rounds the tie to even, Qt's formatter rounds it up.
    EXPECT_EQ(qvFixed(0.25, 1), "0.2");
    EXPECT_EQ(qvFixed(0.125, 2), "0.12");
    EXPECT_EQ(qvFixed(2.675, 2), "2.67");  // 2.675 is stored just below itself
    EXPECT_EQ(qvFixed(-0.04, 1), "-0.0");
    EXPECT_EQ(qvFixed(3.0, 0), "3");
    EXPECT_EQ(qvFormat("%.1f ms", 12.25), "12.2 ms");
    EXPECT_EQ(qvFormat("%lld/%lld", 3LL, 8LL), "3/8");
    // Long and non-ASCII output is complete.
    EXPECT_EQ(qvFormat("%300.1f", 1.0), QString(297, ' ') + "1.0");
    EXPECT_EQ(qvFormat("%.1f °C · %s", 20.0, "Gradient"), QString::fromUtf8("20.0 °C · Gradient"));
}

}  // namespace quorvel
