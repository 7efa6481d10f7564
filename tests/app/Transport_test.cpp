#include <QAbstractButton>
#include <QLabel>
#include <QSlider>
#include <QTest>
#include <limits>

#include "AppHarness.h"
#include "app/TransportBar.h"

namespace quorvel {

TEST(TransportLevelText, TruncatesTowardZeroAndNeverShowsMinusZero) {
    EXPECT_EQ(TransportBar::levelText(-0.4), "0 dB");
    EXPECT_EQ(TransportBar::levelText(-0.0), "0 dB");
    EXPECT_EQ(TransportBar::levelText(0), "0 dB");
    EXPECT_EQ(TransportBar::levelText(-30), "-30 dB");
    EXPECT_EQ(TransportBar::levelText(-30.9), "-30 dB");
    EXPECT_EQ(TransportBar::levelText(-59.7), "-59 dB");
    EXPECT_EQ(TransportBar::levelText(-60), "-60 dB");
    // Never produced by the slider, but must not fail.
    EXPECT_EQ(TransportBar::levelText(std::numeric_limits<double>::quiet_NaN()), "-- dB");
    EXPECT_EQ(TransportBar::levelText(-std::numeric_limits<double>::infinity()), "-- dB");
    EXPECT_FALSE(TransportBar::levelText(-1e300).isEmpty());
    EXPECT_FALSE(TransportBar::levelText(1e300).isEmpty());
}

}  // namespace quorvel
