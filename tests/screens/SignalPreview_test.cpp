#include "screens/SignalPreview.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>

namespace quorvel {

namespace {

void expectNear(const QPointF& actual, const QPointF& expected) {
    EXPECT_NEAR(actual.x(), expected.x(), 1e-9);
    EXPECT_NEAR(actual.y(), expected.y(), 1e-9);
}

}  // namespace

TEST(SignalPreview, LineGeometryPerKind) {
    const QSizeF size(320, 95);
    const double w = size.width(), h = size.height();

    // The plain sine peaks a quarter period in: t = 15/240 = 1/16, sin(8π/16) = 1, y = h/2 − 0.32 h.
    const auto sine = SignalPreview::points(SignalKind::sine, size);
    ASSERT_EQ(sine.size(), 241u);
    expectNear(sine[15], {w / 16, 0.18 * h});
    expectNear(sine.front(), {0, h / 2});
    EXPECT_EQ(sine.back().x(), w);
    // Sync, dual and pulse draw that same sine.
    for (SignalKind k : {SignalKind::dual, SignalKind::sync, SignalKind::pulse})
        EXPECT_EQ(SignalPreview::points(k, size), sine) << rawValue(k);

    // The three noises share one fixed line, the same on every call.
    const auto pink = SignalPreview::points(SignalKind::pink, size);
    EXPECT_EQ(SignalPreview::points(SignalKind::white, size), pink);
    EXPECT_EQ(SignalPreview::points(SignalKind::brown, size), pink);
    EXPECT_EQ(SignalPreview::points(SignalKind::pink, size), pink);
    expectNear(pink[1], {w / 240, h / 2 - 0.32 * h * std::sin(2.8) * std::sin(0.31)});
    EXPECT_NE(pink, sine);

    // Both sweeps share the accelerating sine: at i = 240 the phase is 3 · 8π, back on the centre line.
    const auto sweep = SignalPreview::points(SignalKind::logSweep, size);
    EXPECT_EQ(SignalPreview::points(SignalKind::linearSweep, size), sweep);
    EXPECT_NEAR(sweep.back().y(), h / 2, 1e-9);
    EXPECT_NE(sweep, sine);

    // Every kind stays inside the middle 64 % of the height.
    for (SignalKind k : allSignalKinds)
        for (const QPointF& p : SignalPreview::points(k, size)) {
            EXPECT_GE(p.y(), 0.18 * h - 1e-9);
            EXPECT_LE(p.y(), 0.82 * h + 1e-9);
        }
}

TEST(SignalPreview, DegenerateBoxesCollapseOntoTheEdges) {
    for (const QPointF& p : SignalPreview::points(SignalKind::pink, QSizeF(200, 0))) EXPECT_EQ(p.y(), 0);
    for (const QPointF& p : SignalPreview::points(SignalKind::logSweep, QSizeF(0, 80))) EXPECT_EQ(p.x(), 0);
}

TEST(SignalPreview, LabelFollowsTheKindAndTheLineIsDrawn) {
    SignalPreview preview(SignalKind::pink);
    EXPECT_EQ(preview.accessibleName(), "Pink noise waveform illustration");
    preview.setKind(SignalKind::linearSweep);
    EXPECT_EQ(preview.accessibleName(), "Linear sweep waveform illustration");

    // The stroke lands on the line: the sine's crest pixel is inked, a pixel far from the line is not.
    preview.setKind(SignalKind::sine);
    preview.resize(320, 96);
    QImage image(preview.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    preview.render(&image, {}, {}, QWidget::DrawChildren);  // without the window background
    EXPECT_GT(qAlpha(image.pixel(20, qRound(0.18 * 96))), 128);
    EXPECT_LT(qAlpha(image.pixel(20, 90)), 32);
}

}  // namespace quorvel
