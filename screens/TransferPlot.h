#pragma once
// Transfer-function traces over the shared 20 Hz – 20 kHz grid, 230 px high, as magnitude (±36 dB),
// phase (±180°) or coherence (0 … 1). Trace 0 is drawn in the accent colour, every later one in orange,
// each 2 px wide, later traces on top.
//
// A bin outside 20 … 20000 Hz, or (except in the coherence view) with a coherence below the threshold,
// is left out and lifts the pen, so the curve breaks there. Values beyond the range run along the edge.
// In the phase view two drawn neighbours more than 180° apart are not joined, so a wrap between −180°
// and +180° is not drawn as a vertical stroke. Main thread only.
#include <QColor>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QWidget>
#include <vector>

#include "dsp/TransferTypes.h"

namespace quorvel {

class TransferPlot : public QWidget {
    Q_OBJECT
public:
    using Traces = std::vector<std::vector<TransferBin>>;

    static constexpr int kHeight = 230;
    static constexpr double kDefaultThreshold = 0.8;

    // `field`: "Magnitude", "Phase" or "Coherence" (exact text); anything else draws the magnitude.
    explicit TransferPlot(Traces traces = {}, const QString& field = QStringLiteral("Magnitude"),
                          double threshold = kDefaultThreshold, QWidget* parent = nullptr);

    const Traces& traces() const { return traces_; }
    const QString& field() const { return field_; }
    double threshold() const { return threshold_; }
    void setTraces(Traces traces);
    void setField(const QString& field);
    void setThreshold(double threshold);

    // One run of joined points: the pen goes down at the first and is lifted after the last.
    using Run = std::vector<QPointF>;
    // The curves for a drawing area of `size` (origin top left, y downwards): for each trace, in trace
    // order, its runs (none for a trace with nothing to draw). A run of one point is kept: it marks a
    // break even though its stroke shows nothing. Any thread.
    static std::vector<std::vector<Run>> paths(const Traces& traces, const QString& field, double threshold,
                                               const QSizeF& size);
    // The stroke colour of trace `index`.
    static QColor traceColor(std::size_t index);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Traces traces_;
    QString field_;
    double threshold_;
};

}  // namespace quorvel
