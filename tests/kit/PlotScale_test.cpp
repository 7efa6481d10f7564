#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "UiChecks.h"
#include "kit/QVFrequencyAxis.h"
#include "kit/QVPlotCurve.h"
#include "kit/QVPlotGrid.h"
#include "kit/QVStyle.h"

namespace quorvel {

TEST(QVPlotGrid, FrameShowsLinesAt1Point5To1AndTheScaleAtTheLeftEdge) {
    // The frame as a plot paints it on a card; one pixel column of the 1 kHz line (x ≈ 339.79) and one
    // row of the middle level line (y = 120) against the background beside them.
    QImage image(600, 240, QImage::Format_ARGB32);
    image.fill(QVStyle::card());
    {
        QPainter p(&image);
        QVPlotGrid::paintFrame(p, QSizeF(600, 240), {"0 dBFS", "-25", "-50", "-75", "-100"});
    }
    const QColor background = image.pixelColor(300, 100);
    EXPECT_GE(contrast(image.pixelColor(339, 100), background), 1.5);
    EXPECT_GE(contrast(image.pixelColor(300, 120), background), 1.5);
    // The edge lines stay inside the frame.
    EXPECT_GE(contrast(image.pixelColor(599, 100), background), 1.5);
    EXPECT_GE(contrast(image.pixelColor(300, 239), background), 1.5);
    // Rounded corners: the card shows through outside the frame.
    EXPECT_EQ(image.pixel(0, 0), QVStyle::card().rgb());
    // A label in the secondary colour against each level line, within the left edge: below the top line,
    // above the others.
    for (int k = 0; k <= 4; ++k) {
        const int y = 60 * k;
        const int from = k == 0 ? 2 : y - 16, to = k == 0 ? 16 : y - 2;
        int ink = 0;
        for (int row = from; row <= to; ++row)
            for (int x = 0; x < 60; ++x)
                if (contrast(image.pixelColor(x, row), background) > 2) ++ink;
        EXPECT_GT(ink, 10) << "label " << k;
    }
}

TEST(QVPlotCurve, KeepsEachColumnsExtremesInOrderAndNeverJoinsRuns) {
    // A jagged run far denser than the pixels (6000 points over 300 columns, bunched to the right as
    // bins are on the log scale), with a sparse start.
    std::mt19937 random(3);
    std::uniform_real_distribution<double> level(0, 230);
    QVPlotCurve::Run run;
    for (int i = 0; i < 6000; ++i) run.emplace_back(300 * std::pow(i / 6000.0, 0.3), level(random));
    const QVPlotCurve::Run out = QVPlotCurve::reduced(run);
    // A subsequence of the run: same points, same order.
    std::size_t at = 0;
    for (const QPointF& p : out) {
        while (at < run.size() && run[at] != p) ++at;
        ASSERT_LT(at, run.size()) << "a point not in the run, or out of order";
    }
    // Per column: at most two points, the same highest and lowest as the run; sparse columns untouched.
    std::map<int, std::vector<double>> before, after;
    for (const QPointF& p : run) before[int(std::floor(p.x()))].push_back(p.y());
    for (const QPointF& p : out) after[int(std::floor(p.x()))].push_back(p.y());
    ASSERT_EQ(before.size(), after.size());
    for (const auto& [column, ys] : before) {
        const std::vector<double>& kept = after[column];
        EXPECT_LE(kept.size(), 2u) << column;
        EXPECT_EQ(*std::min_element(kept.begin(), kept.end()), *std::min_element(ys.begin(), ys.end()));
        EXPECT_EQ(*std::max_element(kept.begin(), kept.end()), *std::max_element(ys.begin(), ys.end()));
        EXPECT_TRUE(ys.size() > 2 || kept == ys) << column;
    }
    // Runs stay apart, and a lone point draws nothing.
    QVPlotCurve curve;
    curve.setRuns({{{0, 10}, {5, 20}}, {{7, 0}}, {{10, 50}, {12, 60}, {14, 40}}});
    const std::vector<QLineF> expected{{0, 10, 5, 20}, {10, 50, 12, 60}, {12, 60, 14, 40}};
    EXPECT_EQ(curve.pieces(), expected);
}

// The five labels centre under their grid lines, the outer two held inside the row; in narrow rows they
// never overlap, and narrower than all of them they touch from the left edge on.
TEST(QVFrequencyAxis, LabelsStandUnderTheirGridLinesApartAndInside) {
    const std::vector<double> widths{35, 21, 14, 21, 21};
    const std::vector<QRectF> r = QVFrequencyAxis::labelRects(600, 14, widths);
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0].left(), 0.0);
    EXPECT_NEAR(r[1].center().x(), 139.794, 1e-3);
    EXPECT_NEAR(r[2].center().x(), 339.794, 1e-3);
    EXPECT_NEAR(r[3].center().x(), 539.794, 1e-3);
    EXPECT_EQ(r[4].right(), 600.0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(r[i].width(), widths[i]);
    for (double w : {60.0, 112.0, 150.0, 200.0, 260.0}) {
        const std::vector<QRectF> n = QVFrequencyAxis::labelRects(w, 14, widths);
        EXPECT_GE(n[0].left(), 0.0) << w;
        for (int i = 1; i < 5; ++i) EXPECT_GE(n[i].left(), n[i - 1].right() - 1e-9) << w << " label " << i;
        EXPECT_TRUE(w < 112 || n[4].right() <= w + 1e-9) << w;
    }
    EXPECT_EQ(QVFrequencyAxis::labelRects(60, 14, widths)[4].left(), 35.0 + 21 + 14 + 21);
}

}  // namespace quorvel
