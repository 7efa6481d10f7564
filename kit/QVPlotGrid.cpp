#include "kit/QVPlotGrid.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace quorvel {

QVPlotGrid::QVPlotGrid(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

double QVPlotGrid::x(double hz, double width) { return width * std::log10(hz / 20.0) / 3.0; }

std::vector<QLineF> QVPlotGrid::segments(const QSizeF& size) {
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

void QVPlotGrid::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor::fromRgbF(0, 0, 0, 0.25f));
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    for (const QLineF& s : segments(QSizeF(size()))) {
        path.moveTo(s.p1());
        path.lineTo(s.p2());
    }
    p.strokePath(path, QPen(QColor::fromRgbF(1, 1, 1, 0.07f), 1.0));
}

}  // namespace quorvel
