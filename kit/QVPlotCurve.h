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
// at this width and cost a fraction of one joined stroke. Main thread only, except where stated.
#include <QLineF>
#include <QPointF>
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

    void paint(QPainter& painter, const QColor& color) const;

private:
    std::vector<QLineF> pieces_;
};

}  // namespace quorvel
