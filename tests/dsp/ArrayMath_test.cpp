#include "dsp/ArrayMath.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quorvel {

// c at 20 °C = 331.3 + 0.606·20 = 343.42 m/s: 1.2 m take 3.49426 ms, 1 m 2.91189 ms.
TEST(ArrayMath, EndFireDelaysGrowTowardTheFrontAndAGradientPairDelaysTheRear) {
    using E = std::vector<ArrayElement>;
    auto rounded = [](E elements) {
        for (ArrayElement& e : elements) e.delayMS = std::round(e.delayMS * 1e4) / 1e4;
        return elements;
    };
    EXPECT_EQ(rounded(ArrayMath::layout("End-fire", 3, 1.2, 20)), (E{{0, "Rear", 0, 0, false},
                                                                     {1, "Forward 1", 1.2, 3.4943, false},
                                                                     {2, "Forward 2", 2.4, 6.9885, false}}));
    EXPECT_EQ(ArrayMath::layout("End-fire", 4, 1, 20).back().label, "Forward 3");
    for (const char* kind : {"Gradient", "end-fire", ""})
        for (int count : {2, 4})
            EXPECT_EQ(rounded(ArrayMath::layout(kind, count, 1.0, 20)),
                      (E{{0, "Rear", 0, 2.9119, true}, {1, "Front", 1.0, 0, false}}))
                << kind << count;
    // At the temperature limits c = 307.06 and 367.66 m/s.
    EXPECT_NEAR(ArrayMath::layout("End-fire", 2, 1, -40)[1].delayMS, 1000 / 307.06, 1e-9);
    EXPECT_NEAR(ArrayMath::layout("Gradient", 2, 1, 60)[0].delayMS, 1000 / 367.66, 1e-9);
}

}  // namespace quorvel
