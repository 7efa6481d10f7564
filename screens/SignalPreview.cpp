#include "screens/SignalPreview.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <numbers>

#include "kit/QVStyle.h"

namespace quorvel {

namespace {

enum class Shape { noise, sweep, sine };

Shape shapeOf(SignalKind kind) {
    switch (kind) {
        case SignalKind::pink:
        case SignalKind::white:
        case SignalKind::brown:
            return Shape::noise;
        case SignalKind::logSweep:
        case SignalKind::linearSweep:
            return Shape::sweep;
        default:
            return Shape::sine;
    }
}

}  // namespace

SignalPreview::SignalPreview(SignalKind kind, QWidget* parent) : QWidget(parent), kind_(kind) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAccessibleName(accessibilityLabel(kind_));
}

void SignalPreview::setKind(SignalKind kind) {
    if (kind == kind_) return;
    kind_ = kind;
    setAccessibleName(accessibilityLabel(kind_));
    update();
}

QString SignalPreview::accessibilityLabel(SignalKind kind) {
    const std::string_view raw = rawValue(kind);
    return QString::fromUtf8(raw.data(), qsizetype(raw.size())) + QStringLiteral(" waveform illustration");
}

std::vector<QPointF> SignalPreview::points(SignalKind kind, QSizeF size) {
    constexpr double pi = std::numbers::pi;
    const double w = size.width();
    const double h = size.height();
    const Shape shape = shapeOf(kind);
    std::vector<QPointF> line;
    line.reserve(kSegments + 1);
    line.emplace_back(0.0, h / 2);
    for (int i = 1; i <= kSegments; ++i) {
        const double t = double(i) / kSegments;
        double v = 0;
        switch (shape) {
            case Shape::noise:
                // A fixed irregular line: the same every time, no random numbers.
                v = std::sin(2.8 * i) * std::sin(0.31 * i);
                break;
            case Shape::sweep:
                // The local rate climbs from the plain sine's to seven times it: 16 periods in all.
                v = std::sin((i / 80.0 + 1) * 8 * pi * t);
                break;
            case Shape::sine:
                v = std::sin(8 * pi * t);  // four periods across the width
                break;
        }
        line.emplace_back(w * t, h / 2 - 0.32 * h * v);
    }
    return line;
}

void SignalPreview::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(rect());
    QPainterPath background;
    background.addRoundedRect(box, kCornerRadius, kCornerRadius);
    QColor wash = QVStyle::accent();
    wash.setAlphaF(0.025f);
    p.fillPath(background, wash);

    const std::vector<QPointF> line = points(kind_, box.size());
    QPainterPath path(line.front());
    for (std::size_t k = 1; k < line.size(); ++k) path.lineTo(line[k]);
    QPen pen(QVStyle::accent(), 2, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
    // A miter ten line widths long, end to end; Qt measures from the join's centre, so half that.
    pen.setMiterLimit(5);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

}  // namespace quorvel
