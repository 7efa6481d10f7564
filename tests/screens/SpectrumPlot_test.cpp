#include "screens/SpectrumPlot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/MeasurementDSP.h"

namespace quorvel {

namespace {

// The level of the band centred near `hz`.
double bandLevel(const std::vector<SpectrumPoint>& spectrum, double hz) {
    for (const SpectrumPoint& b : SpectrumPlot::bands(spectrum))
        if (std::fabs(b.hz - hz) < 0.1 * hz) return b.db;
    ADD_FAILURE() << "no band at " << hz;
    return 0;
}

}  // namespace

TEST(SpectrumBands, PowerIsSummedAndDividedByThree) {
    const double L = -20;
    // Band 1 is centred at 25.2 Hz and holds 22.45 … 28.28 Hz.
    // One bin: 10·log10(10^(L/10) / 3) = L − 4.77.
    EXPECT_NEAR(bandLevel({{1, 25, L}}, 25.2), L - 4.771, 1e-3);
    // Three equal bins: the divisor cancels.
    EXPECT_NEAR(bandLevel({{1, 23, L}, {2, 25, L}, {3, 28, L}}, 25.2), L, 1e-9);
    // L and two at L − 6.02 (a quarter of the power each): (1 + ¼ + ¼) / 3 = ½, i.e. L − 3.01.
    EXPECT_NEAR(bandLevel({{1, 23, L}, {2, 25, L - 6.0206}, {3, 28, L - 6.0206}}, 25.2), L - 3.0103, 1e-3);
    // Edges: the lower one belongs to the band, the upper one to the next.
    const double centre = 20 * std::pow(2.0, 1 / 3.0);
    const double lower = centre / 1.122462048309373;
    const double upper = centre * 1.122462048309373;
    EXPECT_NEAR(bandLevel({{1, lower, L}}, 25.2), L - 4.771, 1e-3);
    EXPECT_DOUBLE_EQ(bandLevel({{1, upper, L}}, 25.2), -120);
}

TEST(SpectrumBands, AnalyserSpectrumAt48kHzLeavesTheLowestBandsEmpty) {
    std::vector<double> mic(4096);
    for (std::size_t n = 0; n < mic.size(); ++n) mic[n] = 0.5 * std::sin(2 * M_PI * 1000 * double(n) / 48000);
    const AnalysisResult result = MeasurementDSP::analyze(mic, std::nullopt, 48000);
    ASSERT_EQ(result.spectrum.size(), 2047u);
    const std::vector<SpectrumPoint> bands = SpectrumPlot::bands(result.spectrum);
    ASSERT_EQ(bands.size(), 31u);
    // Bins lie 11.72 Hz apart: none falls between 17.8 and 22.4 Hz, nor between 35.6 and 44.9 Hz.
    EXPECT_DOUBLE_EQ(bands[0].hz, 20);
    EXPECT_DOUBLE_EQ(bands[0].db, -120);
    EXPECT_DOUBLE_EQ(bands[3].hz, 40);
    EXPECT_DOUBLE_EQ(bands[3].db, -120);
    // With every bin at −30 dB, the bands holding a single bin (25.2, 31.7, 50.4, 80 Hz) read −34.77.
    std::vector<SpectrumPoint> flat = result.spectrum;
    for (SpectrumPoint& p : flat) p.db = -30;
    const std::vector<SpectrumPoint> flatBands = SpectrumPlot::bands(flat);
    EXPECT_DOUBLE_EQ(flatBands[0].db, -120);
    EXPECT_DOUBLE_EQ(flatBands[3].db, -120);
    for (int i : {1, 2, 4, 6}) EXPECT_NEAR(flatBands[i].db, -34.771, 1e-3) << flatBands[i].hz;
    EXPECT_NEAR(bands[30].hz, 20480, 1e-9);
    // The 1 kHz band holds the tone: about −6 dBFS for a 0.5 peak, give or take the band split.
    int loudest = 0;
    for (int i = 0; i < 31; ++i)
        if (bands[i].db > bands[loudest].db) loudest = i;
    EXPECT_NEAR(bands[loudest].hz, 1000, 20);
    // An empty spectrum still gives 31 bands, all at the floor.
    for (const SpectrumPoint& b : SpectrumPlot::bands({})) EXPECT_DOUBLE_EQ(b.db, -120);
}

TEST(SpectrumLine, LevelsAndFrequenciesMapToTheFrame) {
    const QSizeF area(600, 240);
    const auto line = SpectrumPlot::line({{1, 10, -10},
                                          {2, 20, 3},
                                          {3, 200, 0},
                                          {4, 2000, -50},
                                          {5, 20000, -130},
                                          {6, std::nan(""), -10},
                                          {7, 20480, -10}},
                                         area);
    ASSERT_EQ(line.size(), 4u);
    EXPECT_EQ(line[0], QPointF(0, 0));
    EXPECT_NEAR(line[1].x(), 200, 1e-9);
    EXPECT_EQ(line[1].y(), 0);
    EXPECT_NEAR(line[2].x(), 400, 1e-9);
    EXPECT_NEAR(line[2].y(), 120, 1e-9);
    EXPECT_EQ(line[3], QPointF(600, 240));

    // The RTA of an empty spectrum is a flat line on the bottom edge; the 20480 Hz band is never drawn.
    const auto floor = SpectrumPlot::line(SpectrumPlot::bands({}), area);
    EXPECT_EQ(floor.size(), 30u);
    for (const QPointF& p : floor) EXPECT_EQ(p.y(), 240);
}

}  // namespace quorvel
