#pragma once
// A curve of a frequency plot, reduced to what the pixels can show and kept ready for painting.
//
// A curve is a list of runs, each a sequence of points joined by straight lines; the pen is lifted between
// runs. A run of thousands of points over a plot a few hundred pixels wide keeps, in each pixel column, at
// most two points: the highest and the lowest of the points falling in that column, in their order along
// the run (the first and last where they are level). Columns holding one or two points keep them as they
// are, so sparse parts of a curve are drawn exactly, and the vertical extent of every column is kept.
//
// The curve is drawn 2 px wide as separate straight pieces with square ends, which meet like round joins
// at this width. A live spectrum brings a new curve of some two thousand pieces several times a second,
// which Qt's painter strokes piece by piece at many times the cost of the rest of the plot: the curve
// draws its pieces itself instead, once per new curve and colour, into a picture of the area it covers,
// smoothed as the painter smooths them (each pixel column sampled at two points across, the stroke's
// extent at each found exactly), and each paint copies that picture. Main thread only, except where
// stated.
#include <QImage>
#include <QLineF>
#include <QPointF>
#include <QRgb>
#include <vector>

class QColor;
class QPainter;

namespace quorvel {

class QVPlotCurve {
public:
    using Run = std::vector<QPointF>;
    static constexpr double kWidth = 2;

    // `run` reduced to at most two points per pixel column; `dpr` pixels per unit. Any thread.
    static Run reduced(const Run& run, double dpr = 1);

    // Replaces the curve: reduces each run and keeps the pieces that draw it. A run of fewer than two
    // points draws nothing.
    void setRuns(const std::vector<Run>& runs, double dpr = 1);
    // The straight pieces, run after run; none joins two runs.
    const std::vector<QLineF>& pieces() const { return pieces_; }

    // Draws the curve in `color`, within the painter's clip.
    void paint(QPainter& painter, const QColor& color) const;
    // The curve drawn in `color` on transparency, in device pixels, and where its top left corner lies
    // (in units). Null for a curve that draws nothing.
    QImage picture(const QColor& color, QPointF* topLeft = nullptr) const;

private:
    void draw(QRgb color) const;

    std::vector<QLineF> pieces_;
    std::vector<std::size_t> runEnds_;  // the end of each run in pieces_
    double dpr_ = 1;
    // The picture of the last colour drawn in; made again after setRuns() or for another colour.
    mutable QImage picture_;
    mutable QPointF topLeft_;
    mutable QRgb drawn_ = 0;
    mutable bool stale_ = true;
};

}  // namespace quorvel
