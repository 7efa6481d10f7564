#include "dsp/TransferDSP.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "DspSignals.h"

namespace quorvel {

using namespace DspSignals;

// A known filter heard 10 ms late is measured within 0.01 dB and 0.1°; the mic as reference gives 1;
// independent noise gives a coherence of about 0.1.
TEST(TransferDSP, KnownFiltersAreMeasuredExactly) {
    constexpr double rate = 48000;
    const std::vector<double> reference = noise(131072, 11), taps{0.5, -0.3, 0.15, 0.05};
    const auto estimate = TransferDSP::estimate(delayed(fir(reference, taps), 480), reference, rate, 10.0);
    EXPECT_EQ(estimate.averages, 14);  // (131072 − 480 − 16384)/8192 + 1, rounded down
    ASSERT_EQ(estimate.bins.size(), 6820u);
    EXPECT_EQ(estimate.bins.front().id, 7);
    EXPECT_EQ(estimate.bins.back().id, 6826);
    EXPECT_DOUBLE_EQ(estimate.bins.back().hz, 19998.046875);
    std::size_t coherent = 0;
    for (const TransferBin& bin : estimate.bins) {
        if (bin.coherence <= 0.99) continue;
        ++coherent;
        const std::complex<double> h = firResponse(taps, 2.0 * M_PI * bin.hz / rate);
        ASSERT_NEAR(bin.magnitudeDB(), 20.0 * std::log10(std::abs(h)), 0.01) << bin.id;
        ASSERT_NEAR(std::remainder(bin.phaseDegrees() - std::arg(h) * 180.0 / M_PI, 360.0), 0, 0.1) << bin.id;
    }
    EXPECT_GT(coherent, 6820u * 95 / 100);
    for (const TransferBin& bin : TransferDSP::estimate(reference, reference, rate, 0).bins) {
        ASSERT_NEAR(bin.real, 1.0, 1e-12);
        ASSERT_NEAR(bin.imag, 0.0, 1e-12);
        ASSERT_NEAR(bin.coherence, 1.0, 1e-12);
    }
    double sum = 0;
    for (const TransferBin& bin : TransferDSP::estimate(noise(131072, 12), reference, rate, 0).bins)
        sum += bin.coherence;
    EXPECT_LT(sum / 6820, 0.2);
}

}  // namespace quorvel
