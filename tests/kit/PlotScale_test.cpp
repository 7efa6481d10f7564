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

namespace quorvel {

// The curve draws its pieces itself: as the painter strokes them 2 px wide with square ends, to within
// the smoothing of their edges, at either pixel ratio; in its colour; and with the pen lifted between
// runs, however close they end.
TEST(QVPlotCurve, DrawsItsPiecesAsThePainterStrokesThem) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> level(60, 140);
    QVPlotCurve::Run dense;
    for (int i = 0; i < 2000; ++i)
        dense.emplace_back(100 + 300 * std::pow(i / 2000.0, 0.3), level(random) + 40 * std::sin(i / 300.0));
    const std::vector<QVPlotCurve::Run> runs{
        {{10, 20}, {60, 30}, {61, 180}, {90, 170}},  // sparse, with a near-vertical piece
        {{91.2, 40}, {99, 40}},                      // a level run just after it, not joined to it
        dense};
    for (double dpr : {1.0, 2.0}) {
        SCOPED_TRACE(dpr);
        QVPlotCurve curve;
        curve.setRuns(runs, dpr);
        QImage painted((QSizeF(420, 200) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
        painted.setDevicePixelRatio(dpr);
        painted.fill(Qt::transparent);
        QImage drawn = painted;
        {
            QPainter p(&painted);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(Qt::white, QVPlotCurve::kWidth, Qt::SolidLine, Qt::SquareCap));
            p.drawLines(curve.pieces().data(), int(curve.pieces().size()));
        }
        {
            QPainter p(&drawn);
            curve.paint(p, Qt::white);
        }
        double inkPainted = 0, inkDrawn = 0, difference = 0;
        int touched = 0, apart = 0;
        for (int y = 0; y < painted.height(); ++y)
            for (int x = 0; x < painted.width(); ++x) {
                const int a = qAlpha(painted.pixel(x, y)), b = qAlpha(drawn.pixel(x, y));
                inkPainted += a;
                inkDrawn += b;
                if (a || b) ++touched;
                difference += std::abs(a - b);
                if (std::abs(a - b) > 128) ++apart;
            }
        EXPECT_NEAR(inkDrawn / inkPainted, 1, 0.02);
        EXPECT_LT(difference / touched, 16);  // of 255, over the pixels either touches
        EXPECT_LT(apart, touched / 500 + 1);  // a pixel half covered by one and not the other: rare
        // Nothing between the two runs' ends at x = 90 and 91.2, above the level run.
        for (int y = int(50 * dpr); y < int(160 * dpr); ++y)
            EXPECT_EQ(qAlpha(drawn.pixel(int(91 * dpr), y)), 0) << y;
    }
    // In its colour, opaque where a piece covers a pixel whole; a curve of no piece draws nothing.
    QVPlotCurve flat;
    flat.setRuns({{{0, 10.5}, {50, 10.5}}});
    QPointF at;
    const QImage picture = flat.picture(QColor(171, 240, 125), &at);
    const QPoint inside = QPoint(25, 10) - at.toPoint();  // the pixel row from 10 to 11, covered whole
    EXPECT_EQ(picture.pixel(inside), qRgb(171, 240, 125));
    QVPlotCurve none;
    none.setRuns({{{5, 5}}});
    EXPECT_TRUE(none.picture(Qt::white).isNull());
}

}  // namespace quorvel
