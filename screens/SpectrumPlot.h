#pragma once
// The live spectrum over the shared 20 Hz – 20 kHz grid: one accent line, 0 dBFS at the top edge and
// −100 dBFS at the bottom (the dBFS scale labelled at the grid lines), either through the analyser's FFT
// bins or through 31 third-octave band levels. The line is prepared once per new set of points (and per
// size), not per paint. While there is no spectrum an empty-state message lies over the grid. Main thread
// only.
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QWidget>
#include <vector>

#include "dsp/MeasurementDSP.h"
#include "kit/QVPlotCurve.h"
#include "kit/QVPlotGrid.h"

namespace quorvel {

class QVEmpty;

class SpectrumPlot : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 240;
    static constexpr int kBandCount = 31;

    explicit SpectrumPlot(QWidget* parent = nullptr);

    // The points drawn (bins or bands) and the empty-state title; an empty title hides the message.
    void setPoints(std::vector<SpectrumPoint> points);
    void setEmptyTitle(const QString& title);
    const std::vector<SpectrumPoint>& points() const { return points_; }
    QString emptyTitle() const;

    // Third-octave bands i = 0 … 30 centred at 20 × 2^(i/3) Hz, each holding the points with
    // centre / 2^(1/6) ≤ hz < centre × 2^(1/6). A band's level is 10·log10 of the summed bin powers
    // divided by 3 (a fixed divisor, not the number of bins), floored at 1e-12 (−120 dB). A band that
    // holds no point has no level and is left out, so the line joins its neighbours rather than diving
    // to the floor (at 48 kHz the 20 Hz and 40 Hz bands fall between the FFT's bins); an empty spectrum
    // gives no bands. Ids are the band indices. Any thread.
    static std::vector<SpectrumPoint> bands(const std::vector<SpectrumPoint>& spectrum);

    // The line through `points` in an area of `size`: points outside 20 … 20000 Hz (or NaN) are left
    // out, x on the shared log scale, y linear from 0 dBFS (top, and above) to −100 dBFS (bottom, and
    // below). Any thread.
    static std::vector<QPointF> line(const std::vector<SpectrumPoint>& points, const QSizeF& size);
    // The level labels, top to bottom.
    static const QVPlotGrid::Scale& scale();
    // The line as it is drawn.
    const QVPlotCurve& curve() const { return curve_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void prepareCurve();

    std::vector<SpectrumPoint> points_;
    QVPlotCurve curve_;
    QVEmpty* empty_ = nullptr;
};

}  // namespace quorvel
