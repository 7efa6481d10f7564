#include "kit/QVPlotGrid.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "kit/QVStyle.h"

namespace quorvel {

namespace QVPlotGrid {

double x(double hz, double width) { return width * std::log10(hz / 20.0) / 3.0; }

std::vector<QLineF> segments(const QSizeF& size) {
    const double w = size.width();
    const double h = size.height();
    std::vector<QLineF> out;
    out.reserve(kFrequenciesHz.size() + kQuarters + 1);
    for (double f : kFrequenciesHz) {
        const double px = x(f, w);
        out.emplace_back(px, 0.0, px, h);
    }
    for (int k = 0; k <= kQuarters; ++k) {
        const double y = h * k * 0.25;
        out.emplace_back(0.0, y, w, y);
    }
    return out;
}

const QColor& lineColor() {
    static const QColor c = QColor::fromRgbF(1, 1, 1, 0.16f);
    return c;
}

namespace {

// A 1 px line on the pixel it falls in, so that it covers one column or row fully instead of two by
// halves; the lines on the far edges stay inside.
double onPixel(double at, double extent) {
    return std::clamp(std::floor(at), 0.0, std::max(0.0, extent - 1)) + 0.5;
}

}  // namespace

void paintFrame(QPainter& p, const QSizeF& size, const Scale& scale) {
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area(QPointF(0, 0), size);
    QPainterPath frame;
    frame.addRoundedRect(area, kRadius, kRadius);
    p.setClipPath(frame);
    p.fillRect(area, QColor::fromRgbF(0, 0, 0, 0.25f));

    // Each line fills the one pixel column or row it falls in: the same pixels as a 1 px stroke along the
    // pixel's centre, at a fraction of a stroke's cost under the rounded clip.
    for (const QLineF& l : segments(size)) {
        if (l.x1() == l.x2())
            p.fillRect(QRectF(onPixel(l.x1(), size.width()) - 0.5, l.y1(), 1, l.y2() - l.y1()), lineColor());
        else
            p.fillRect(QRectF(l.x1(), onPixel(l.y1(), size.height()) - 0.5, l.x2() - l.x1(), 1), lineColor());
    }

    // Each label sits against its level line: below the top one, above the others.
    const QFont font = QVStyle::monospaceFont(QVText::Caption2);
    const double textHeight = QFontMetricsF(font).height();
    p.setFont(font);
    p.setPen(QVStyle::secondary());
    for (int k = 0; k <= kQuarters; ++k) {
        const double y = size.height() * k * 0.25;
        const double top = k == 0 ? y + 2 : y - 2 - textHeight;
        p.drawText(QRectF(6, top, std::max(0.0, size.width() - 12), textHeight),
                   Qt::AlignLeft | Qt::AlignVCenter, scale[std::size_t(k)]);
    }
}

}  // namespace QVPlotGrid

}  // namespace quorvel
