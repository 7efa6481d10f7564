// The plots of the screens: the signal preview line, the RTA bands and spectrum line, and the transfer
// traces.
#include <gtest/gtest.h>

#include <QImage>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "ScreenTesting.h"
#include "UiChecks.h"
#include "kit/QVStyle.h"
#include "screens/AnalyzerView.h"
#include "screens/SignalPreview.h"
#include "screens/SpectrumPlot.h"
#include "screens/TransferPlot.h"

namespace quorvel {

// The preview's line: one shape per family, all within the middle 64 % of the height, drawn where it lies.
TEST(SignalPreview, LineGeometryPerKindAndTheLineIsDrawn) {
    const QSizeF size(320, 95);
    const auto line = [&](SignalKind k) { return SignalPreview::points(k, size); };
    const auto sine = line(SignalKind::sine), pink = line(SignalKind::pink),
               sweep = line(SignalKind::logSweep);
    ASSERT_EQ(sine.size(), 241u);
    EXPECT_EQ(sine.front(), QPointF(0, 95 / 2.0));
    EXPECT_NEAR(sine[15].y(), 0.18 * 95, 1e-9);  // a quarter period in: the crest
    EXPECT_EQ(sine.back().x(), 320);
    for (SignalKind k : {SignalKind::dual, SignalKind::sync, SignalKind::pulse}) EXPECT_EQ(line(k), sine);
    EXPECT_EQ(line(SignalKind::white), pink);
    EXPECT_EQ(line(SignalKind::brown), pink);
    EXPECT_EQ(line(SignalKind::linearSweep), sweep);
    EXPECT_NEAR(sweep.back().y(), 95 / 2.0, 1e-9);
    EXPECT_TRUE(pink != sine && sweep != sine && pink != sweep);
    for (SignalKind k : allSignalKinds)
        for (const QPointF& p : line(k)) EXPECT_TRUE(p.y() >= 0.18 * 95 - 1e-9 && p.y() <= 0.82 * 95 + 1e-9);

    SignalPreview preview(SignalKind::pink);
    preview.setKind(SignalKind::linearSweep);
    EXPECT_EQ(preview.accessibleName(), "Linear sweep waveform illustration");
    preview.setKind(SignalKind::sine);
    preview.resize(320, 96);
    QImage image(preview.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    preview.render(&image, {}, {}, QWidget::DrawChildren);  // without the window background
    EXPECT_GT(qAlpha(image.pixel(20, qRound(0.18 * 96))), 128);
    EXPECT_LT(qAlpha(image.pixel(20, 90)), 32);
}

namespace {

// The preview's drawing as one stroke of the whole line over the background, at `dpr` pixels per unit.
QImage previewInOneStroke(SignalKind kind, QSize size, qreal dpr) {
    QImage image((QSizeF(size) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath background;
    background.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), 14, 14);
    QColor wash = QVStyle::accent();
    wash.setAlphaF(0.025f);
    p.fillPath(background, wash);
    const std::vector<QPointF> line = SignalPreview::points(kind, QSizeF(size));
    QPainterPath path(line.front());
    for (std::size_t k = 1; k < line.size(); ++k) path.lineTo(line[k]);
    QPen pen(QVStyle::accent(), 2, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
    pen.setMiterLimit(5);
    p.setPen(pen);
    p.drawPath(path);
    return image;
}

}  // namespace

// The preview is drawn in strips, once per shape and size: every pixel as the whole line drawn in one
// stroke gives it, whatever the width (strips that do not divide it) and the screen's pixel ratio.
TEST(SignalPreview, PictureIsTheWholeStrokePixelForPixel) {
    for (SignalKind kind : {SignalKind::pink, SignalKind::logSweep, SignalKind::sine})
        for (const auto& [size, dpr] : {std::pair{QSize(760, 95), 1.0}, std::pair{QSize(331, 95), 1.0},
                                        std::pair{QSize(500, 95), 2.0}}) {
            SCOPED_TRACE(std::string(rawValue(kind)) + " at " + std::to_string(size.width()) + " x" +
                         std::to_string(dpr));
            const QImage drawn = SignalPreview::picture(kind, size, dpr)
                                     .toImage()
                                     .convertToFormat(QImage::Format_ARGB32_Premultiplied);
            const QImage expected = previewInOneStroke(kind, size, dpr);
            ASSERT_EQ(drawn.size(), expected.size());
            EXPECT_EQ(drawn, expected);
            if (drawn != expected)
                drawn.save(QStringLiteral(QUORVEL_TEST_OUTPUT_DIR "/preview-") +
                           QString::fromUtf8(rawValue(kind).data()) + ".png");
        }
    EXPECT_TRUE(SignalPreview::picture(SignalKind::pink, QSize(0, 95), 1).isNull());
}

namespace {

// The band centred near `hz`, if the bands hold one.
const SpectrumPoint* band(const std::vector<SpectrumPoint>& bands, double hz) {
    for (const SpectrumPoint& b : bands)
        if (std::fabs(b.hz - hz) < 0.1 * hz) return &b;
    return nullptr;
}

// The level of the band centred near `hz`.
double bandLevel(const std::vector<SpectrumPoint>& spectrum, double hz) {
    const std::vector<SpectrumPoint> bands = SpectrumPlot::bands(spectrum);
    if (const SpectrumPoint* b = band(bands, hz)) return b->db;
    ADD_FAILURE() << "no band at " << hz;
    return 0;
}

// The analyser's spectrum of pink noise at 48 kHz: bins 1 … 2047 of a 4096-point FFT (11.72 Hz apart),
// falling 3 dB per octave from −20 dBFS at 1 kHz.
std::vector<SpectrumPoint> pinkSpectrum() {
    std::vector<SpectrumPoint> out;
    for (int k = 1; k <= 2047; ++k) {
        const double hz = k * 48000.0 / 4096;
        out.push_back({k, hz, -20 - 10 * std::log10(hz / 1000)});
    }
    return out;
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
    const std::vector<SpectrumPoint> next = SpectrumPlot::bands({{1, upper, L}});
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].id, 2);
    // Power that underflows the floor still reads −120 dB: the band holds a bin.
    EXPECT_DOUBLE_EQ(bandLevel({{1, 25, -400}}, 25.2), -120);
    // Bands run from 20 Hz to 20480 Hz; an empty spectrum has none.
    const std::vector<SpectrumPoint> all = SpectrumPlot::bands({{1, 20, L}, {2, 20000, L}});
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].id, 0);
    EXPECT_DOUBLE_EQ(all[0].hz, 20);
    EXPECT_EQ(all[1].id, 30);
    EXPECT_NEAR(all[1].hz, 20480, 1e-9);
    EXPECT_TRUE(SpectrumPlot::bands({}).empty());
}

// A band that holds no bin has no level: at 48 kHz the 20 Hz and 40 Hz bands are left out, so the RTA of
// pink noise runs on through them instead of diving to the floor; every other band reads as the rule says,
// to the bit.
TEST(SpectrumBands, PinkNoiseDrawsNoFalseNotches) {
    const std::vector<SpectrumPoint> pink = pinkSpectrum();
    const std::vector<SpectrumPoint> bands = SpectrumPlot::bands(pink);
    std::vector<int> ids;
    for (const SpectrumPoint& b : bands) ids.push_back(b.id);
    std::vector<int> expected;
    for (int i = 0; i < 31; ++i)
        if (i != 0 && i != 3) expected.push_back(i);
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(band(bands, 20), nullptr);
    EXPECT_EQ(band(bands, 40), nullptr);
    for (const SpectrumPoint& b : bands) {
        const double centre = 20 * std::pow(2.0, b.id / 3.0);
        double power = 0;
        for (const SpectrumPoint& p : pink)
            if (centre / 1.122462048309373 <= p.hz && p.hz < centre * 1.122462048309373)
                power += std::pow(10.0, p.db / 10) / 3;
        EXPECT_EQ(b.hz, centre) << b.id;
        EXPECT_EQ(b.db, 10 * std::log10(std::max(power, 1e-12))) << b.id;
    }
    // The band at 25.2 Hz holds one bin (23.4 Hz): its level less 4.77 dB.
    EXPECT_NEAR(band(bands, 25.2)->db, pink[1].db - 4.771, 1e-3);

    // Drawn, the line passes between its neighbours where a band is missing, never near the floor; an
    // empty spectrum draws nothing.
    ScreenTesting::useWorkspaceStyle();
    SpectrumPlot plot;
    plot.setPoints(bands);
    ScreenTesting::savePng(&plot, "rta-pink.png", {600, SpectrumPlot::kHeight});
    const std::vector<QLineF>& pieces = plot.curve().pieces();
    ASSERT_FALSE(pieces.empty());
    for (const QLineF& piece : pieces) {
        EXPECT_LT(piece.y1(), SpectrumPlot::kHeight * 0.5);
        EXPECT_LT(piece.y2(), SpectrumPlot::kHeight * 0.5);
    }
    plot.setPoints(AnalyzerView::points(SpectrumMode::rta, {}));
    EXPECT_TRUE(plot.curve().pieces().empty());
    ScreenTesting::savePng(&plot, "rta-empty.png", {600, SpectrumPlot::kHeight});
}

// Levels from 0 dBFS (top) to −120 (bottom) and 20 Hz … 20 kHz map onto the frame, clamped at its edges;
// a frequency that is not a number, or the 20480 Hz band, is not drawn.
TEST(SpectrumLine, LevelsAndFrequenciesMapToTheFrame) {
    const std::vector<SpectrumPoint> points{{1, 10, -10},   {2, 20, 3},       {3, 200, 0},
                                            {4, 2000, -50}, {5, 20000, -130}, {6, std::nan(""), -10},
                                            {7, 20480, -10}};
    const std::vector<QPointF> line = SpectrumPlot::line(points, QSizeF(600, 240));
    ASSERT_EQ(line.size(), 4u);
    EXPECT_EQ(line[0], QPointF(0, 0));
    EXPECT_NEAR(line[1].x(), 200, 1e-9);
    EXPECT_EQ(line[1].y(), 0);
    EXPECT_NEAR(line[2].x(), 400, 1e-9);
    EXPECT_NEAR(line[2].y(), 120, 1e-9);
    EXPECT_EQ(line[3], QPointF(600, 240));
}

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

TEST(TransferPlot, CurvesOnTheTopAndBottomEdgesShowTheirWholeStroke) {
    ScreenTesting::useWorkspaceStyle();
    // Coherence 1 along the top edge, then 0 along the bottom, each 2 px wide and wholly inside the frame;
    // a second trace at 0.6 (y = 92) in orange, over the frame's grid.
    std::vector<TransferBin> bins, second;
    for (int i = 0; i < 400; ++i) {
        bins.push_back(bin(i, 100 + 20.0 * i, 0, 0, i < 200 ? 1.0 : 0.0));
        second.push_back(bin(i, 100 + 20.0 * i, 0, 0, 0.6));
    }
    TransferPlot plot({bins, second}, TransferField::coherence);
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
    EXPECT_EQ(image.pixelColor(top, 92).rgb(), qRgb(255, 159, 10));  // the system orange, #FF9F0A
    // The 1 kHz line and the middle level line stand out from the background beside them.
    const QColor background = image.pixelColor(300, 60);
    EXPECT_GE(contrast(image.pixelColor(int(QVPlotGrid::x(1000, 600)), 60), background), 1.5);
    EXPECT_GE(contrast(image.pixelColor(300, 115), background), 1.5);
}

}  // namespace quorvel
