#include "kit/QVPlotCurve.h"

#include <QColor>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

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
    runEnds_.clear();
    for (const Run& run : runs) {
        if (run.size() < 2) continue;
        const Run points = reduced(run, dpr);
        for (std::size_t i = 1; i < points.size(); ++i) pieces_.emplace_back(points[i - 1], points[i]);
        runEnds_.push_back(pieces_.size());
    }
    dpr_ = dpr;
    stale_ = true;
}

void QVPlotCurve::paint(QPainter& painter, const QColor& color) const {
    QPointF at;
    const QImage drawn = picture(color, &at);
    if (!drawn.isNull()) painter.drawImage(at, drawn);
}

QImage QVPlotCurve::picture(const QColor& color, QPointF* topLeft) const {
    if (stale_ || drawn_ != color.rgba()) draw(color.rgba());
    if (topLeft) *topLeft = topLeft_;
    return picture_;
}

namespace {

// The extent of a straight piece's stroke along vertical lines: the piece from `from` to `to`, `half`
// wide on each side and reaching `half` past each end (a square end), met by the line x = `x`. Within
// `limit` of the centre along a unit vector u means |dx·u.x + dy·u.y| ≤ limit for (dx, dy) from the centre:
// for u.y ≠ 0 a stretch of dy centred on −dx·u.x / u.y and limit / |u.y| long each way, otherwise every
// dy or none. The stroke is within its half length and `half` along the piece, and within `half` across.
class Stroke {
public:
    Stroke(QPointF from, QPointF to, double length, double half)
        : centre_((from + to) / 2), along_((to - from) / length), limit_(length / 2 + half), half_(half) {
        alongTilted_ = std::abs(along_.y()) > 1e-12;
        acrossTilted_ = std::abs(along_.x()) > 1e-12;
        // Across is (−along.y, along.x).
        if (alongTilted_) {
            alongShift_ = -along_.x() / along_.y();
            alongSpan_ = limit_ / std::abs(along_.y());
        }
        if (acrossTilted_) {
            acrossShift_ = along_.y() / along_.x();
            acrossSpan_ = half_ / std::abs(along_.x());
        }
    }

    double centreX() const { return centre_.x(); }
    // How far left and right of its centre the stroke reaches.
    double reach() const { return limit_ * std::abs(along_.x()) + half_ * std::abs(along_.y()); }

    // The stretch [top, bottom] of the line x = `x` within the stroke; false where the line misses it.
    bool at(double x, double& top, double& bottom) const {
        const double dx = x - centre_.x();
        double low = -std::numeric_limits<double>::infinity(), high = -low;
        if (alongTilted_) {
            low = dx * alongShift_ - alongSpan_;
            high = dx * alongShift_ + alongSpan_;
        } else if (std::abs(dx * along_.x()) > limit_) {
            return false;
        }
        if (acrossTilted_) {
            low = std::max(low, dx * acrossShift_ - acrossSpan_);
            high = std::min(high, dx * acrossShift_ + acrossSpan_);
        } else if (std::abs(dx * along_.y()) > half_) {
            return false;
        }
        if (!(low < high)) return false;
        top = centre_.y() + low;
        bottom = centre_.y() + high;
        return true;
    }

private:
    QPointF centre_, along_;
    double limit_, half_;
    bool alongTilted_ = false, acrossTilted_ = false;
    double alongShift_ = 0, alongSpan_ = 0, acrossShift_ = 0, acrossSpan_ = 0;
};

// How much of the pixel row [row, row + 1] lies within [top, bottom].
double overlap(int row, double top, double bottom) {
    return std::max(0.0, std::min(bottom, row + 1.0) - std::max(top, double(row)));
}

}  // namespace

// Each pixel column is sampled at a quarter and three quarters across; at each sample the stroke of the
// run's pieces covers one stretch (the pieces of a run follow each other left to right, so the stretches
// they cover at one sample overlap), found exactly; a pixel's coverage is the mean of its row's share of
// the two stretches. Runs are drawn one after the other, a pixel keeping the larger coverage.
void QVPlotCurve::draw(QRgb color) const {
    stale_ = false;
    drawn_ = color;
    picture_ = QImage();
    if (pieces_.empty()) return;
    const double half = kWidth * dpr_ / 2;
    const double margin = 1.5 * half + 1;  // a square end's corner, and a pixel to round outwards
    double minX = std::numeric_limits<double>::infinity(), minY = minX, maxX = -minX, maxY = -minX;
    for (const QLineF& piece : pieces_)
        for (const QPointF& p : {piece.p1(), piece.p2()}) {
            minX = std::min(minX, p.x() * dpr_);
            maxX = std::max(maxX, p.x() * dpr_);
            minY = std::min(minY, p.y() * dpr_);
            maxY = std::max(maxY, p.y() * dpr_);
        }
    const int left = int(std::floor(minX - margin)), top = int(std::floor(minY - margin));
    const int width = int(std::ceil(maxX + margin)) - left, height = int(std::ceil(maxY + margin)) - top;
    if (width <= 0 || height <= 0 || std::int64_t(width) * height > (std::int64_t{1} << 26)) return;

    // The colour at each coverage, premultiplied: its alpha grows with the coverage.
    std::array<QRgb, 256> shades{};
    for (int level = 0; level < 256; ++level)
        shades[std::size_t(level)] = qPremultiply(
            qRgba(qRed(color), qGreen(color), qBlue(color), (qAlpha(color) * level + 127) / 255));
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    auto* const pixels = reinterpret_cast<QRgb*>(image.bits());
    const std::size_t stride = std::size_t(image.bytesPerLine()) / sizeof(QRgb);

    std::vector<double> highs(std::size_t(width) * 2), lows(std::size_t(width) * 2);
    std::size_t begin = 0;
    for (const std::size_t end : runEnds_) {
        // The samples this run can reach.
        double runLeft = std::numeric_limits<double>::infinity(), runRight = -runLeft;
        for (std::size_t i = begin; i < end; ++i) {
            runLeft = std::min({runLeft, pieces_[i].x1() * dpr_ - left, pieces_[i].x2() * dpr_ - left});
            runRight = std::max({runRight, pieces_[i].x1() * dpr_ - left, pieces_[i].x2() * dpr_ - left});
        }
        const int fromColumn = std::max(0, int(std::floor(runLeft - margin)));
        const int toColumn = std::min(width - 1, int(std::ceil(runRight + margin)));
        std::fill(highs.begin() + 2 * fromColumn, highs.begin() + 2 * toColumn + 2,
                  -std::numeric_limits<double>::infinity());
        std::fill(lows.begin() + 2 * fromColumn, lows.begin() + 2 * toColumn + 2,
                  std::numeric_limits<double>::infinity());
        for (std::size_t i = begin; i < end; ++i) {
            const QPointF from = pieces_[i].p1() * dpr_ - QPointF(left, top);
            const QPointF to = pieces_[i].p2() * dpr_ - QPointF(left, top);
            const double length = std::hypot(to.x() - from.x(), to.y() - from.y());
            if (!(length > 0)) continue;
            const Stroke stroke(from, to, length, half);
            const int first =
                std::max(2 * fromColumn, int(std::ceil(2 * (stroke.centreX() - stroke.reach()) - 0.5)));
            const int last =
                std::min(2 * toColumn + 1, int(std::floor(2 * (stroke.centreX() + stroke.reach()) - 0.5)));
            for (int s = first; s <= last; ++s) {
                double y0 = 0, y1 = 0;
                if (!stroke.at((s + 0.5) / 2, y0, y1)) continue;
                lows[std::size_t(s)] = std::min(lows[std::size_t(s)], y0);
                highs[std::size_t(s)] = std::max(highs[std::size_t(s)], y1);
            }
        }
        for (int column = fromColumn; column <= toColumn; ++column) {
            const double top0 = lows[std::size_t(2 * column)], top1 = lows[std::size_t(2 * column + 1)];
            const double bottom0 = highs[std::size_t(2 * column)],
                         bottom1 = highs[std::size_t(2 * column + 1)];
            const double y0 = std::min(top0, top1), y1 = std::max(bottom0, bottom1);
            if (!(y0 < y1)) continue;
            const int rowFrom = std::max(0, int(std::floor(y0)));
            const int rowTo = std::min(height - 1, int(std::ceil(y1)) - 1);
            // Rows within both stretches are covered whole; only the few at their ends are shared. A pixel
            // keeps the larger of the coverages two runs give it.
            int wholeFrom = rowTo + 1, wholeTo = rowTo;  // none while a sample misses the run
            if (top0 < bottom0 && top1 < bottom1) {
                wholeFrom = int(std::ceil(std::max(top0, top1)));
                wholeTo = int(std::floor(std::min(bottom0, bottom1))) - 1;
            }
            QRgb* const cells = pixels + std::size_t(column);
            for (int row = rowFrom; row <= rowTo; ++row) {
                QRgb& pixel = cells[std::size_t(row) * stride];
                if (row >= wholeFrom && row <= wholeTo) {
                    pixel = shades[255];
                    continue;
                }
                const double covered = 0.5 * (overlap(row, top0, bottom0) + overlap(row, top1, bottom1));
                const QRgb shade = shades[std::size_t(std::min(covered, 1.0) * 255 + 0.5)];
                if (qAlpha(shade) > qAlpha(pixel)) pixel = shade;
            }
        }
        begin = end;
    }
    image.setDevicePixelRatio(dpr_);
    picture_ = std::move(image);
    topLeft_ = QPointF(left / dpr_, top / dpr_);
}

}  // namespace quorvel
