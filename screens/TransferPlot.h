#pragma once
// Transfer-function traces over the shared 20 Hz – 20 kHz grid, 230 px high, as magnitude (±36 dB),
// phase (±180°) or coherence (0 … 1), with that scale labelled at the grid lines. Trace 0 is drawn in the
// accent colour, every later one in orange, each 2 px wide, later traces on top.
//
// A bin outside 20 … 20000 Hz, or (except in the coherence view) with a coherence below the threshold,
// is left out and lifts the pen, so the curve breaks there. Values beyond the range run along the edge.
// In the phase view two drawn neighbours more than 180° apart are not joined, so a wrap between −180°
// and +180° is not drawn as a vertical stroke. The curves are prepared once per change of traces, field,
// threshold or size, not per paint. Main thread only.
#include <QColor>
#include <QPointF>
#include <QSizeF>
#include <QWidget>
#include <vector>

#include "dsp/TransferTypes.h"
#include "kit/QVPlotCurve.h"
#include "kit/QVPlotGrid.h"

namespace quorvel {

// The quantity a transfer plot shows.
enum class TransferField { magnitude, phase, coherence };

class TransferPlot : public QWidget {
    Q_OBJECT
public:
    using Traces = std::vector<std::vector<TransferBin>>;

    static constexpr int kHeight = 230;
    static constexpr double kDefaultThreshold = 0.8;

    explicit TransferPlot(Traces traces = {}, TransferField field = TransferField::magnitude,
                          double threshold = kDefaultThreshold, QWidget* parent = nullptr);

    const Traces& traces() const { return traces_; }
    TransferField field() const { return field_; }
    double threshold() const { return threshold_; }
    void setTraces(Traces traces);
    void setField(TransferField field);

    // One run of joined points: the pen goes down at the first and is lifted after the last.
    using Run = std::vector<QPointF>;
    // The curves for a drawing area of `size` (origin top left, y downwards): for each trace, in trace
    // order, its runs (none for a trace with nothing to draw). A run of one point is kept: it marks a
    // break even though its stroke shows nothing. Any thread.
    static std::vector<std::vector<Run>> paths(const Traces& traces, TransferField field, double threshold,
                                               const QSizeF& size);
    // The stroke colour of trace `index`.
    static QColor traceColor(std::size_t index);
    // The level labels of `field`, top to bottom.
    static const QVPlotGrid::Scale& scale(TransferField field);
    // The traces as they are drawn, in trace order.
    const std::vector<QVPlotCurve>& curves() const { return curves_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void prepareCurves();

    Traces traces_;
    TransferField field_;
    double threshold_;
    std::vector<QVPlotCurve> curves_;
};

}  // namespace quorvel
