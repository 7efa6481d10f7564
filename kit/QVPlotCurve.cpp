#include "kit/QVPlotCurve.h"

#include <QPainter>
#include <cmath>

namespace quorvel {

QVPlotCurve::Run QVPlotCurve::reduced(const Run& run, double dpr) {
    Run out;
    out.reserve(run.size());
    std::size_t begin = 0;
    while (begin < run.size()) {
        // The points of one column, as they follow each other along the run.
        const double column = std::floor(run[begin].x() * dpr);
        std::size_t end = begin + 1;
        std::size_t high = begin, low = begin;  // y grows downwards
        while (end < run.size() && std::floor(run[end].x() * dpr) == column) {
            if (run[end].y() < run[high].y()) high = end;
            if (run[end].y() > run[low].y()) low = end;
            ++end;
        }
        if (end - begin <= 2) {
            out.insert(out.end(), run.begin() + std::ptrdiff_t(begin), run.begin() + std::ptrdiff_t(end));
        } else if (high == low) {
            out.push_back(run[begin]);
            out.push_back(run[end - 1]);
        } else {
            out.push_back(run[std::min(high, low)]);
            out.push_back(run[std::max(high, low)]);
        }
        begin = end;
    }
    return out;
}

void QVPlotCurve::setRuns(const std::vector<Run>& runs, double dpr) {
    pieces_.clear();
    for (const Run& run : runs) {
        if (run.size() < 2) continue;
        const Run points = reduced(run, dpr);
        for (std::size_t i = 1; i < points.size(); ++i) pieces_.emplace_back(points[i - 1], points[i]);
    }
}

void QVPlotCurve::paint(QPainter& painter, const QColor& color) const {
    if (pieces_.empty()) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, kWidth, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    painter.drawLines(pieces_.data(), int(pieces_.size()));
    painter.restore();
}

}  // namespace quorvel
