#include "screens/TransferPlot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ScreenTesting.h"
#include "UiChecks.h"
#include "kit/QVStyle.h"
#include "screens/ScreenControls.h"

namespace quorvel {

namespace {

const QSizeF kArea(600, 230);

// A bin whose transfer value has magnitude `db` and phase `degrees`.
TransferBin bin(int id, double hz, double db, double degrees = 0, double coherence = 1) {
    const double mag = std::pow(10.0, db / 20);
    const double rad = degrees * M_PI / 180;
    return {id, hz, mag * std::cos(rad), mag * std::sin(rad), coherence};
}

std::vector<TransferPlot::Run> draw(const std::vector<TransferBin>& bins, TransferField field,
                                    double threshold = 0.8) {
    const auto paths = TransferPlot::paths({bins}, field, threshold, kArea);
    EXPECT_EQ(paths.size(), 1u);
    return paths.front();
}

}  // namespace

TEST(TransferPlot, PhaseWrapBreaksTheLineButAHalfTurnIsJoined) {
    auto wrap = draw({bin(1, 100, 0, 170), bin(2, 110, 0, -170)}, TransferField::phase);
    ASSERT_EQ(wrap.size(), 2u);
    EXPECT_EQ(wrap[0].size(), 1u);
    EXPECT_EQ(wrap[1].size(), 1u);

    auto half = draw({bin(1, 100, 0, 90), bin(2, 110, 0, -90)}, TransferField::phase);
    ASSERT_EQ(half.size(), 1u);
    ASSERT_EQ(half[0].size(), 2u);
    EXPECT_DOUBLE_EQ(half[0][0].y(), 230 * 0.25);  // +90° a quarter down from the top
    EXPECT_DOUBLE_EQ(half[0][1].y(), 230 * 0.75);

    // The same two bins in the magnitude view are one line: only the phase view splits at wraps.
    EXPECT_EQ(draw({bin(1, 100, 0, 170), bin(2, 110, 0, -170)}, TransferField::magnitude).size(), 1u);
    // The first drawn phase is compared with 0°: a first bin at 179° starts the path, it does not break it.
    EXPECT_EQ(draw({bin(1, 100, 0, 179), bin(2, 110, 0, 178)}, TransferField::phase).size(), 1u);
}

TEST(TransferPlot, CoherenceGateAndBandLiftThePen) {
    // 0.79 is left out and breaks the line, exactly 0.8 is drawn; NaN never passes.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto gated = draw({bin(1, 100, 0, 0, 0.9), bin(2, 110, 0, 0, 0.79), bin(3, 120, 0, 0, 0.8),
                       bin(4, 130, 0, 0, nan), bin(5, 140, 0, 0, 0.95)},
                      TransferField::magnitude);
    ASSERT_EQ(gated.size(), 3u);
    EXPECT_EQ(gated[0].size(), 1u);
    EXPECT_EQ(gated[1].size(), 1u);
    EXPECT_DOUBLE_EQ(gated[1][0].x(), 600 * std::log10(120 / 20.0) / 3);
    EXPECT_EQ(draw({bin(1, 100, 0, 0, 0.79), bin(2, 110, 0, 0, 0.79)}, TransferField::phase).size(), 0u);

    // The coherence view draws every in-band bin, whatever its coherence.
    auto coherence = draw({bin(1, 100, 0, 0, 0.1), bin(2, 110, 0, 0, 0.79), bin(3, 120, 0, 0, 1)},
                          TransferField::coherence);
    ASSERT_EQ(coherence.size(), 1u);
    EXPECT_EQ(coherence[0].size(), 3u);
    EXPECT_DOUBLE_EQ(coherence[0][0].y(), 230 * 0.9);
    EXPECT_DOUBLE_EQ(coherence[0][2].y(), 0);

    // The band's ends are drawn on the edges; bins outside it (or NaN) break the line.
    auto band = draw(
        {bin(1, 19.9, 0), bin(2, 20, 0), bin(3, 1000, 0), bin(4, nan, 0), bin(5, 20000, 0), bin(6, 20001, 0)},
        TransferField::magnitude);
    ASSERT_EQ(band.size(), 2u);
    EXPECT_DOUBLE_EQ(band[0][0].x(), 0);
    EXPECT_EQ(band[0].size(), 2u);
    EXPECT_DOUBLE_EQ(band[1][0].x(), 600);
}

TEST(TransferPlot, ValuesBeyondTheRangeArePinnedToTheEdgesAndJoined) {
    auto magnitude =
        draw({bin(1, 100, 40), bin(2, 110, 36), bin(3, 120, 0), bin(4, 130, -36), bin(5, 140, -80)},
             TransferField::magnitude);
    ASSERT_EQ(magnitude.size(), 1u);
    const std::vector<double> ys{0, 0, 115, 230, 230};
    ASSERT_EQ(magnitude[0].size(), ys.size());
    for (std::size_t i = 0; i < ys.size(); ++i) EXPECT_NEAR(magnitude[0][i].y(), ys[i], 1e-9) << i;

    // A zero transfer value reads −240 dB: on the bottom edge. ±180° lie on the edges.
    EXPECT_DOUBLE_EQ(draw({{1, 100, 0, 0, 1}}, TransferField::magnitude)[0][0].y(), 230);
    EXPECT_DOUBLE_EQ(draw({bin(1, 100, 0, 180)}, TransferField::phase)[0][0].y(), 0);
    EXPECT_DOUBLE_EQ(draw({{1, 100, -1, -0.0, 1}}, TransferField::phase)[0][0].y(), 230);
}

TEST(TransferPlot, OnePathPerTraceAndColoursByPosition) {
    EXPECT_TRUE(TransferPlot::paths({}, TransferField::magnitude, 0.8, kArea).empty());
    // A first trace with nothing to draw still takes the first colour; the rest are orange.
    const auto paths = TransferPlot::paths({{bin(1, 100, 0, 0, 0.1)}, {bin(1, 100, 0)}, {bin(1, 100, 0)}, {}},
                                           TransferField::magnitude, 0.8, kArea);
    ASSERT_EQ(paths.size(), 4u);
    EXPECT_TRUE(paths[0].empty());
    EXPECT_EQ(paths[1].size(), 1u);
    EXPECT_TRUE(paths[3].empty());
    EXPECT_EQ(TransferPlot::traceColor(0), QVStyle::accent());
    EXPECT_EQ(TransferPlot::traceColor(1), ScreenColors::orange());
    EXPECT_EQ(TransferPlot::traceColor(2), ScreenColors::orange());
}

TEST(TransferPlot, CurvesOnTheTopAndBottomEdgesShowTheirWholeStroke) {
    ScreenTesting::useWorkspaceStyle();
    // Coherence 1 along the top edge, then 0 along the bottom, each 2 px wide and wholly inside the frame.
    std::vector<TransferBin> bins;
    for (int i = 0; i < 400; ++i) bins.push_back(bin(i, 100 + 20.0 * i, 0, 0, i < 200 ? 1.0 : 0.0));
    TransferPlot plot({bins}, TransferField::coherence);
    plot.resize(600, TransferPlot::kHeight);
    const QImage image = plot.grab().toImage();
    const auto strokeRows = [&](int x) {
        int rows = 0;
        for (int y = 0; y < image.height(); ++y)
            if (contrast(image.pixelColor(x, y), QVStyle::accent()) < 1.3) ++rows;
        return rows;
    };
    const int top = int(QVPlotGrid::x(1500, 600)), bottom = int(QVPlotGrid::x(8000, 600));
    EXPECT_GE(strokeRows(top), 2);
    EXPECT_GE(strokeRows(bottom), 2);
}

}  // namespace quorvel
