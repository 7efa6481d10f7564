#include "dsp/TransferDSP.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <limits>

#include "DspSignals.h"

namespace quorvel {

using namespace DspSignals;

namespace {

constexpr double rate = 48000;

// Every bin whose coherence is above 0.99 must match the exact response within 0.01 dB and 0.1°, and
// nearly every bin of a filtered broadband noise is that coherent. Windowed segments of a filtered
// signal differ from the filtered windowed segments only near the window's edges, where the Hann window
// is almost zero, so a short filter's estimate is very close.
void expectResponse(const TransferEstimate& estimate,
                    const std::function<std::complex<double>(double)>& exact) {
    ASSERT_FALSE(estimate.bins.empty());
    std::size_t checked = 0;
    double worstDB = 0, worstDegrees = 0;
    for (const TransferBin& bin : estimate.bins) {
        ASSERT_TRUE(bin.coherence >= 0 && bin.coherence <= 1) << bin.id;
        if (bin.coherence <= 0.99) continue;
        ++checked;
        const std::complex<double> h = exact(2.0 * M_PI * bin.hz / rate);
        worstDB = std::max(worstDB, std::fabs(bin.magnitudeDB() - 20.0 * std::log10(std::abs(h))));
        worstDegrees = std::max(
            worstDegrees, std::fabs(std::remainder(bin.phaseDegrees() - std::arg(h) * 180.0 / M_PI, 360.0)));
    }
    EXPECT_GT(checked, estimate.bins.size() * 95 / 100);
    EXPECT_LT(worstDB, 0.01);
    EXPECT_LT(worstDegrees, 0.1);
}

}  // namespace

TEST(TransferDSP, KnownFiltersAreMeasuredExactly) {
    const std::vector<double> reference = noise(131072, 11);
    const std::vector<double> taps{0.5, -0.3, 0.15, 0.05};
    const auto firEstimate = TransferDSP::estimate(fir(reference, taps), reference, rate, 0);
    EXPECT_EQ(firEstimate.averages, 15);  // (131072 − 16384)/8192 + 1
    expectResponse(firEstimate, [&](double w) { return firResponse(taps, w); });
    // At 48 kHz the kept bins run from 20.5 Hz (k = 7) to 19998.05 Hz (k = 6826), in order.
    ASSERT_EQ(firEstimate.bins.size(), 6820u);
    EXPECT_EQ(firEstimate.bins.front().id, 7);
    EXPECT_EQ(firEstimate.bins.back().id, 6826);
    EXPECT_DOUBLE_EQ(firEstimate.bins.back().hz, 19998.046875);

    expectResponse(TransferDSP::estimate(onePole(reference, 0.4, 0.6), reference, rate, 0),
                   [](double w) { return onePoleResponse(0.4, 0.6, w); });
    // The same filter heard 10 ms late: the delay comes out first, so the phase is that of the filter.
    expectResponse(TransferDSP::estimate(delayed(fir(reference, taps), 480), reference, rate, 10.0),
                   [&](double w) { return firResponse(taps, w); });

    // A mic equal to the reference gives H = 1 with full coherence in every bin; independent noise
    // averages a coherence of roughly 0.1 over 15 half-overlapping segments.
    for (const TransferBin& bin : TransferDSP::estimate(reference, reference, rate, 0).bins) {
        ASSERT_NEAR(bin.real, 1.0, 1e-12);
        ASSERT_NEAR(bin.imag, 0.0, 1e-12);
        ASSERT_NEAR(bin.coherence, 1.0, 1e-12);
    }
    const auto unrelated = TransferDSP::estimate(noise(131072, 12), reference, rate, 0);
    ASSERT_EQ(unrelated.bins.size(), 6820u);
    double sum = 0;
    for (const TransferBin& bin : unrelated.bins) sum += bin.coherence;
    EXPECT_LT(sum / 6820, 0.2);
}

TEST(TransferDSP, SegmentCountFollowsUsableLength) {
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

TEST(TransferDSP, RefusesUnusableInput) {
    const std::vector<double> x = noise(40960, 16);
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    for (const double delayMS : {-0.5, nan, inf, 1e300, 40961 / rate * 1000})  // the last: past the mic's end
        EXPECT_EQ(TransferDSP::estimate(x, x, rate, delayMS), TransferEstimate{}) << delayMS;
    for (const double badRate : {0.0, -rate, inf, nan})
        EXPECT_EQ(TransferDSP::estimate(x, x, badRate, 0), TransferEstimate{}) << badRate;
    for (const std::size_t at : {0u, 20000u, 40959u}) {
        std::vector<double> bad = x;
        bad[at] = at == 0 ? inf : nan;
        EXPECT_EQ(TransferDSP::estimate(bad, x, rate, 0), TransferEstimate{}) << at;
        EXPECT_EQ(TransferDSP::estimate(x, bad, rate, 0), TransferEstimate{}) << at;
    }
    // A sample past the last segment is never read, so it does no harm; finite samples so large that
    // the sums overflow leave nothing to trust.
    std::vector<double> bad = x;
    bad.push_back(inf);
    EXPECT_EQ(TransferDSP::estimate(bad, x, rate, 0).averages, 4);
    std::vector<double> huge = x;
    for (double& v : huge) v *= 1e300;
    EXPECT_EQ(TransferDSP::estimate(huge, x, rate, 0), TransferEstimate{});
    // Silence in the reference leaves no bin to divide by.
    EXPECT_TRUE(TransferDSP::estimate(x, std::vector<double>(40960, 0.0), rate, 0).bins.empty());
}

}  // namespace quorvel
