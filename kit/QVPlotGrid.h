#pragma once
// The background grid of the frequency plots, and the frequency scale every plot shares: 20 Hz to 20 kHz,
// logarithmic, x = w × log10(f / 20) / 3 for a drawing area w wide (20 Hz at the left edge, 20 kHz at the
// right, one decade per third). Frequencies outside that range simply fall outside the area.
//
// The grid draws vertical lines at 20, 50, 100, 200, 500 Hz, 1, 2, 5, 10 and 20 kHz and horizontal lines
// at each quarter of the height (edges included), white at 7 % over black at 25 %. It does not clip
// itself; the plots that use it clip grid and curves to their own frame. Main thread only.
#include <QLineF>
#include <QSizeF>
#include <QWidget>
#include <array>
#include <vector>

namespace quorvel {

class QVPlotGrid : public QWidget {
    Q_OBJECT
public:
    static constexpr std::array<double, 10> kFrequenciesHz{20,   50,   100,  200,   500,
                                                           1000, 2000, 5000, 10000, 20000};
    static constexpr int kQuarters = 4;

    explicit QVPlotGrid(QWidget* parent = nullptr);

    // The horizontal position of `hz` in an area `width` wide. Any thread.
    static double x(double hz, double width);
    // The 15 segments of the grid for an area of `size`: the ten frequency lines left to right, then the
    // five level lines top to bottom. Any thread.
    static std::vector<QLineF> segments(const QSizeF& size);

protected:
    void paintEvent(QPaintEvent*) override;
};

}  // namespace quorvel
