#include "screens/SpectrumPlot.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "kit/QVEmpty.h"
#include "kit/QVStyle.h"

namespace quorvel {

SpectrumPlot::SpectrumPlot(QWidget* parent) : QWidget(parent) {
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    empty_ = new QVEmpty(QStringLiteral("waveform.path"), QString(), QString(), this);
    empty_->setAttribute(Qt::WA_TransparentForMouseEvents);
    empty_->hide();
}

void SpectrumPlot::setPoints(std::vector<SpectrumPoint> points) {
    points_ = std::move(points);
    prepareCurve();
    update();
}

void SpectrumPlot::setEmptyTitle(const QString& title) {
    empty_->setTitle(title);
    empty_->setVisible(!title.isEmpty());
}

QString SpectrumPlot::emptyTitle() const { return empty_->isVisibleTo(this) ? empty_->title() : QString(); }

QSize SpectrumPlot::sizeHint() const { return {600, kHeight}; }

std::vector<SpectrumPoint> SpectrumPlot::bands(const std::vector<SpectrumPoint>& spectrum) {
    constexpr double kSixthOctave = 1.122462048309373;  // 2^(1/6)
    std::vector<SpectrumPoint> out;
    out.reserve(kBandCount);
    for (int i = 0; i < kBandCount; ++i) {
        const double centre = 20 * std::pow(2.0, i / 3.0);
        const double lower = centre / kSixthOctave;
        const double upper = centre * kSixthOctave;
        double power = 0;
        bool held = false;
        for (const SpectrumPoint& p : spectrum)
            if (lower <= p.hz && p.hz < upper) {
                power += std::pow(10.0, p.db / 10) / 3;
                held = true;
            }
        if (held) out.push_back({i, centre, 10 * std::log10(std::max(power, 1e-12))});
    }
    return out;
}

std::vector<QPointF> SpectrumPlot::line(const std::vector<SpectrumPoint>& points, const QSizeF& size) {
    std::vector<QPointF> out;
    out.reserve(points.size());
    for (const SpectrumPoint& p : points) {
        if (!(p.hz >= 20 && p.hz <= 20000)) continue;
        const double y = p.db < 0 ? size.height() * (-std::max(p.db, -100.0) / 100) : 0;
        out.emplace_back(QVPlotGrid::x(p.hz, size.width()), y);
    }
    return out;
}

const QVPlotGrid::Scale& SpectrumPlot::scale() {
    static const QVPlotGrid::Scale labels{QStringLiteral("0 dBFS"), QStringLiteral("\u221225"),
                                          QStringLiteral("\u221250"), QStringLiteral("\u221275"),
                                          QStringLiteral("\u2212100")};
    return labels;
}

void SpectrumPlot::prepareCurve() {
    const double inset = QVPlotGrid::kCurveInset;
    std::vector<QPointF> points = line(points_, QSizeF(width(), std::max(0.0, height() - 2 * inset)));
    for (QPointF& point : points) point.ry() += inset;
    curve_.setRuns({std::move(points)}, devicePixelRatioF());
}

void SpectrumPlot::resizeEvent(QResizeEvent*) {
    empty_->setGeometry(rect());
    prepareCurve();
}

void SpectrumPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QVPlotGrid::paintFrame(p, QSizeF(size()), scale());
    curve_.paint(p, QVStyle::accent());
}

}  // namespace quorvel
