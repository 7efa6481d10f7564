#include "screens/SignalPreview.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <algorithm>
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

namespace {

// The line's pen: round ends, mitred joins.
QPen linePen() {
    QPen pen(QVStyle::accent(), 2, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
    // A miter ten line widths long, end to end; Qt measures from the join's centre, so half that.
    pen.setMiterLimit(5);
    return pen;
}

// Strips the line is drawn in, in device pixels.
constexpr int kStripPixels = 24;

}  // namespace

QPixmap SignalPreview::picture(SignalKind kind, QSize size, qreal dpr) {
    const QSize device = (QSizeF(size) * dpr).toSize();
    if (device.isEmpty()) return {};
    const Shape shape = shapeOf(kind);
    const QString key = QStringLiteral("qvSignalPreview/%1/%2x%3/%4")
                            .arg(int(shape))
                            .arg(device.width())
                            .arg(device.height())
                            .arg(dpr);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached)) return cached;

    QImage image(device, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    const QRectF box(QPointF(0, 0), QSizeF(size));
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath background;
        background.addRoundedRect(box, kCornerRadius, kCornerRadius);
        QColor wash = QVStyle::accent();
        wash.setAlphaF(0.025f);
        p.fillPath(background, wash);
    }

    // Qt's rasteriser takes far longer over the outline of 240 sharp turns than over the same outline in
    // short pieces (its work grows faster than the outline), so the line is drawn in narrow strips of
    // the picture, each with the part of the line that can reach it, as one path with its joins. Each
    // pixel lies in one strip and gets the coverage the whole line gives it there.
    const QPen pen = linePen();
    const std::vector<QPointF> line = points(kind, box.size());
    // How far the stroke reaches from the points it joins: a miter, then the edge's smoothing.
    const double reach = pen.miterLimit() * pen.widthF() + pen.widthF();
    for (int left = 0; left < device.width(); left += kStripPixels) {
        const int width = std::min(kStripPixels, device.width() - left);
        const double from = left / dpr - reach, to = (left + width) / dpr + reach;
        std::size_t first = 0, last = line.size() - 1;
        while (first + 1 < line.size() && line[first + 1].x() <= from) ++first;
        while (last > first + 1 && line[last - 1].x() >= to) --last;
        QPainterPath part(line[first]);
        for (std::size_t k = first + 1; k <= last; ++k) part.lineTo(line[k]);
        // The strip as an image of its own over the picture's pixels: its edges bound the drawing.
        QImage strip(image.bits() + std::ptrdiff_t(left) * 4, width, device.height(), image.bytesPerLine(),
                     image.format());
        strip.setDevicePixelRatio(dpr);
        QPainter p(&strip);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(-left / dpr, 0);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPath(part);
    }
    QPixmap pixmap = QPixmap::fromImage(std::move(image));
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

void SignalPreview::paintEvent(QPaintEvent*) {
    const QPixmap drawn = picture(kind_, size(), devicePixelRatioF());
    if (!drawn.isNull()) QPainter(this).drawPixmap(0, 0, drawn);
}

}  // namespace quorvel
