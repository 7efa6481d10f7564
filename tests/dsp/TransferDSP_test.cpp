#include "dsp/TransferDSP.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>

#include "DspSignals.h"

namespace quorvel {

using namespace DspSignals;

// A known filter heard 10 ms late, its delay taken out: every coherent bin within 0.01 dB and 0.1° of the
// filter's exact response, bins from 20.5 Hz (k = 7) to 19998.05 Hz (k = 6826) in order. A mic equal to
// the reference gives H = 1 with full coherence; independent noise averages a coherence of roughly 0.1
// over 15 half-overlapping segments.
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

TEST(TransferDSP, SegmentCountFollowsUsableLength) {
    constexpr double rate = 48000;
    const std::vector<double> x = noise(40960 + 3, 14);
    auto take = [&](std::size_t n) {
        return std::vector<double>(x.begin(), x.begin() + static_cast<long>(n));
    };
    EXPECT_EQ(TransferDSP::estimate(take(32767), take(32767), rate, 0), TransferEstimate{});
    EXPECT_EQ(TransferDSP::estimate(take(32768), take(32768), rate, 0).averages, 3);
    EXPECT_EQ(TransferDSP::estimate(take(40960), take(40960), rate, 0).averages, 4);
    EXPECT_EQ(TransferDSP::estimate(take(40959), take(40960), rate, 0).averages, 3);  // the shorter decides
    EXPECT_EQ(TransferDSP::estimate(take(40960), take(40959), rate, 0).averages, 3);
    // A delay of d samples uses the mic from d on: a mic d samples longer keeps the segment count,
    // and 0.03125 ms at 48 kHz is 1.5 samples, which rounds away from zero to 2.
    EXPECT_EQ(TransferDSP::estimate(take(40962), take(40960), rate, 0.03125).averages, 4);
    EXPECT_EQ(TransferDSP::estimate(take(40961), take(40960), rate, 0.03125).averages, 3);
}

}  // namespace quorvel
