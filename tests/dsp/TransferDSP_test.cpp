#include "dsp/TransferDSP.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <fstream>
#include <functional>
#include <limits>

#include "DspSignals.h"

namespace quorvel {

using namespace DspSignals;

namespace {

constexpr double rate = 48000;

// Every bin whose coherence is above 0.99 must match the exact response within 0.01 dB and 0.1°.
// Windowed segments of a filtered signal differ from the filtered windowed segments only near the
// window's edges, where the Hann window is almost zero, so a short filter's estimate is very close.
void expectResponse(const TransferEstimate& estimate,
                    const std::function<std::complex<double>(double)>& exact, const char* label) {
    ASSERT_FALSE(estimate.bins.empty());
    int checked = 0;
    double worstDB = 0, worstDegrees = 0;
    for (const TransferBin& bin : estimate.bins) {
        EXPECT_GE(bin.coherence, 0.0);
        EXPECT_LE(bin.coherence, 1.0);
        if (bin.coherence <= 0.99) continue;
        ++checked;
        const std::complex<double> h = exact(2.0 * M_PI * bin.hz / rate);
        const double db = bin.magnitudeDB() - 20.0 * std::log10(std::abs(h));
        double degrees = bin.phaseDegrees() - std::arg(h) * 180.0 / M_PI;
        degrees = std::remainder(degrees, 360.0);
        worstDB = std::max(worstDB, std::fabs(db));
        worstDegrees = std::max(worstDegrees, std::fabs(degrees));
    }
    // Nearly every bin of a filtered broadband noise is coherent; an estimate that lost coherence
    // everywhere would otherwise pass vacuously.
    EXPECT_GT(checked, static_cast<int>(estimate.bins.size()) * 95 / 100) << label;
    EXPECT_LT(worstDB, 0.01) << label;
    EXPECT_LT(worstDegrees, 0.1) << label;
    if (::testing::Test::HasFailure()) {
        std::ofstream out(std::string(QUORVEL_TEST_OUTPUT_DIR "/") + label + ".csv");
        out << "id,hz,measuredDB,exactDB,measuredDegrees,exactDegrees,coherence\n";
        for (const TransferBin& bin : estimate.bins) {
            const std::complex<double> h = exact(2.0 * M_PI * bin.hz / rate);
            out << bin.id << ',' << bin.hz << ',' << bin.magnitudeDB() << ',' << 20 * std::log10(std::abs(h))
                << ',' << bin.phaseDegrees() << ',' << std::arg(h) * 180 / M_PI << ',' << bin.coherence
                << '\n';
        }
    }
}

}  // namespace

TEST(TransferDSP, KnownFiltersAreMeasuredExactly) {
    const std::vector<double> reference = noise(131072, 11);
    const std::vector<double> taps{0.5, -0.3, 0.15, 0.05};
    const auto firEstimate = TransferDSP::estimate(fir(reference, taps), reference, rate, 0);
    EXPECT_EQ(firEstimate.averages, 15);  // (131072 − 16384)/8192 + 1
    expectResponse(
        firEstimate, [&](double w) { return firResponse(taps, w); }, "fir");
    // At 48 kHz the kept bins run from 20.5 Hz (k = 7) to 19998.05 Hz (k = 6826), in order.
    ASSERT_EQ(firEstimate.bins.size(), 6820u);
    EXPECT_EQ(firEstimate.bins.front().id, 7);
    EXPECT_EQ(firEstimate.bins.back().id, 6826);
    EXPECT_DOUBLE_EQ(firEstimate.bins.back().hz, 19998.046875);

    expectResponse(
        TransferDSP::estimate(onePole(reference, 0.4, 0.6), reference, rate, 0),
        [](double w) { return onePoleResponse(0.4, 0.6, w); }, "onepole");

    // The same filter heard 10 ms late: the delay comes out first, so the phase is that of the filter.
    const std::vector<double> late = delayed(fir(reference, taps), 480);
    const auto lateEstimate = TransferDSP::estimate(late, reference, rate, 10.0);
    expectResponse(
        lateEstimate, [&](double w) { return firResponse(taps, w); }, "fir-late");
}

TEST(TransferDSP, UncorrelatedNoiseHasLowCoherence) {
    const auto estimate = TransferDSP::estimate(noise(131072, 12), noise(131072, 13), rate, 0);
    ASSERT_FALSE(estimate.bins.empty());
    double sum = 0;
    for (const TransferBin& bin : estimate.bins) sum += bin.coherence;
    // With 15 half-overlapping segments the coherence of independent noise averages roughly 0.1.
    EXPECT_LT(sum / static_cast<double>(estimate.bins.size()), 0.2);
}

TEST(TransferDSP, SegmentCountFollowsUsableLength) {
    const std::vector<double> x = noise(40960 + 3, 14);
    auto take = [&](std::size_t n) {
        return std::vector<double>(x.begin(), x.begin() + static_cast<long>(n));
    };
    EXPECT_EQ(TransferDSP::estimate(take(32767), take(32767), rate, 0), TransferEstimate{});
    EXPECT_EQ(TransferDSP::estimate(take(32768), take(32768), rate, 0).averages, 3);
    EXPECT_EQ(TransferDSP::estimate(take(40960), take(40960), rate, 0).averages, 4);
    EXPECT_EQ(TransferDSP::estimate(take(40959), take(40960), rate, 0).averages,
              3);  // the shorter array decides

    // A delay of d samples uses the mic from d on: a mic d samples longer keeps the segment count,
    // and 0.03125 ms at 48 kHz is 1.5 samples, which rounds away from zero to 2.
    EXPECT_EQ(TransferDSP::estimate(take(40962), take(40960), rate, 0.03125).averages, 4);
    EXPECT_EQ(TransferDSP::estimate(take(40961), take(40960), rate, 0.03125).averages, 3);
}

// A mic equal to the reference gives H = 1 with full coherence in every bin.
TEST(TransferDSP, IdenticalSignalsGiveUnity) {
    const std::vector<double> x = noise(32768, 15);
    const auto estimate = TransferDSP::estimate(x, x, rate, 0);
    ASSERT_EQ(estimate.bins.size(), 6820u);
    for (const TransferBin& bin : estimate.bins) {
        EXPECT_NEAR(bin.real, 1.0, 1e-12);
        EXPECT_NEAR(bin.imag, 0.0, 1e-12);
        EXPECT_NEAR(bin.coherence, 1.0, 1e-12);
    }
}

TEST(TransferDSP, RefusesUnusableInput) {
    const std::vector<double> x = noise(40960, 16);
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(TransferDSP::estimate(x, x, rate, -0.5), TransferEstimate{});
    EXPECT_EQ(TransferDSP::estimate(x, x, rate, nan), TransferEstimate{});
    EXPECT_EQ(TransferDSP::estimate(x, x, rate, 1e300), TransferEstimate{});  // far beyond the mic
    EXPECT_EQ(TransferDSP::estimate(x, x, 0, 0), TransferEstimate{});
    EXPECT_EQ(TransferDSP::estimate(x, x, inf, 0), TransferEstimate{});
    std::vector<double> bad = x;
    bad[20000] = nan;
    EXPECT_EQ(TransferDSP::estimate(bad, x, rate, 0), TransferEstimate{});
    EXPECT_EQ(TransferDSP::estimate(x, bad, rate, 0), TransferEstimate{});
    // A sample past the last segment is never read, so it does no harm.
    bad = x;
    bad.push_back(inf);
    EXPECT_EQ(TransferDSP::estimate(bad, x, rate, 0).averages, 4);
    // Silence in the reference leaves no bin to divide by.
    EXPECT_TRUE(TransferDSP::estimate(x, std::vector<double>(40960, 0.0), rate, 0).bins.empty());
}

}  // namespace quorvel
