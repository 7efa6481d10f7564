#pragma once
// The frame of the frequency plots, and the frequency scale every plot shares: 20 Hz to 20 kHz,
// logarithmic, x = w × log10(f / 20) / 3 for a drawing area w wide (20 Hz at the left edge, 20 kHz at the
// right, one decade per third). Frequencies outside that range simply fall outside the area.
//
// The grid has vertical lines at 20, 50, 100, 200, 500 Hz, 1, 2, 5, 10 and 20 kHz and horizontal lines at
// each quarter of the height (edges included). A plot attaches its level scale to the quarters: one small
// label per level line, at the left edge. Main thread only, except where stated.
#include <QLineF>
#include <QSizeF>
#include <QString>
#include <array>
#include <vector>

class QColor;
class QPainter;

namespace quorvel {

namespace QVPlotGrid {

inline constexpr std::array<double, 10> kFrequenciesHz{20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000};
inline constexpr int kQuarters = 4;
inline constexpr double kRadius = 12;
// Curves are drawn 2 px wide; they keep this far from the top and bottom edges, so that a value pinned
// to an edge shows its whole stroke inside the frame.
inline constexpr double kCurveInset = 1;

// The labels of the level lines, top to bottom.
using Scale = std::array<QString, kQuarters + 1>;

// The horizontal position of `hz` in an area `width` wide. Any thread.
double x(double hz, double width);
// The 15 segments of the grid for an area of `size`: the ten frequency lines left to right, then the
// five level lines top to bottom. Any thread.
std::vector<QLineF> segments(const QSizeF& size);

// The grid lines' colour: white, strong enough for 1.5:1 against the plot's background.
const QColor& lineColor();
// Clips `painter` to the plot's rounded frame of `size` and draws the dimmed background, the grid and the
// scale; the curves drawn next share the clip.
void paintFrame(QPainter& painter, const QSizeF& size, const Scale& scale);

}  // namespace QVPlotGrid

}  // namespace quorvel
