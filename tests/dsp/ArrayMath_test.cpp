#include "dsp/ArrayMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quorvel {

// c at 20 °C = 331.3 + 0.606·20 = 343.42 m/s; 1.2 m / c = 3.49426 ms, 2.4 m / c = 6.98853 ms,
// 1.0 m / c = 2.91189 ms.
TEST(ArrayMath, EndFireLine) {
    auto e = ArrayMath::layout("End-fire", 3, 1.2, 20);
    ASSERT_EQ(e.size(), 3u);
    const char* labels[] = {"Rear", "Forward 1", "Forward 2"};
    const double delays[] = {0, 3.4943, 6.9885};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(e[i].id, i);
        EXPECT_EQ(e[i].label, labels[i]);
        EXPECT_NEAR(e[i].position, 1.2 * i, 1e-12);
        EXPECT_NEAR(e[i].delayMS, delays[i], 5e-5);
        EXPECT_FALSE(e[i].inverted);
    }
    EXPECT_EQ(ArrayMath::layout("End-fire", 4, 1, 20).back().label, "Forward 3");
}

TEST(ArrayMath, GradientPairForAnyOtherKind) {
    for (const char* kind : {"Gradient", "end-fire", ""}) {
        for (int count : {2, 4}) {
            auto e = ArrayMath::layout(kind, count, 1.0, 20);
            ASSERT_EQ(e.size(), 2u) << kind;
            EXPECT_EQ(e[0].label, "Rear");
            EXPECT_EQ(e[0].position, 0);
            EXPECT_NEAR(e[0].delayMS, 2.9119, 5e-5);
            EXPECT_TRUE(e[0].inverted);
            EXPECT_EQ(e[1].id, 1);
            EXPECT_EQ(e[1].label, "Front");
            EXPECT_EQ(e[1].position, 1.0);
            EXPECT_EQ(e[1].delayMS, 0);
            EXPECT_FALSE(e[1].inverted);
        }
    }
}

TEST(ArrayMath, InvalidInputsGiveNothing) {
    const double inf = std::numeric_limits<double>::infinity();
    for (const char* kind : {"End-fire", "Gradient"}) {
        EXPECT_TRUE(ArrayMath::layout(kind, 1, 1, 20).empty()) << kind;
        EXPECT_TRUE(ArrayMath::layout(kind, 5, 1, 20).empty()) << kind;
        for (double spacing : {0.0, -1.0, inf, std::nan("")})
            EXPECT_TRUE(ArrayMath::layout(kind, 2, spacing, 20).empty());
        for (double t : {-40.1, 60.1, inf, std::nan("")})
            EXPECT_TRUE(ArrayMath::layout(kind, 2, 1, t).empty()) << t;
        EXPECT_EQ(ArrayMath::layout(kind, 2, 1, -40).size(), 2u);
        EXPECT_EQ(ArrayMath::layout(kind, 2, 1, 60).size(), 2u);
    }
    // At the limits c = 307.06 and 367.66 m/s.
    EXPECT_NEAR(ArrayMath::layout("End-fire", 2, 1, -40)[1].delayMS, 1000 / 307.06, 1e-9);
    EXPECT_NEAR(ArrayMath::layout("End-fire", 2, 1, 60)[1].delayMS, 1000 / 367.66, 1e-9);
}

}  // namespace quorvel
