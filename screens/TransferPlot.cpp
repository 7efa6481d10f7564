#include "screens/TransferPlot.h"

#include <QPainter>
#include <cmath>

#include "kit/QVStyle.h"
#include "screens/ScreenControls.h"

namespace quorvel {

TransferPlot::TransferPlot(Traces traces, TransferField field, double threshold, QWidget* parent)
    : QWidget(parent), traces_(std::move(traces)), field_(field), threshold_(threshold) {
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    prepareCurves();
}

void TransferPlot::setTraces(Traces traces) {
    traces_ = std::move(traces);
    prepareCurves();
    update();
}

void TransferPlot::setField(TransferField field) {
    if (field == field_) return;
    field_ = field;
    prepareCurves();
    update();
}

QSize TransferPlot::sizeHint() const { return {600, kHeight}; }

QColor TransferPlot::traceColor(std::size_t index) {
    return index == 0 ? QVStyle::accent() : ScreenColors::orange();
}

const QVPlotGrid::Scale& TransferPlot::scale(TransferField field) {
    static const QVPlotGrid::Scale magnitude{QStringLiteral("+36 dB"), QStringLiteral("+18"),
                                             QStringLiteral("0"), QStringLiteral("\u221218"),
                                             QStringLiteral("\u221236")};
    static const QVPlotGrid::Scale phase{QStringLiteral("+180\u00b0"), QStringLiteral("+90\u00b0"),
                                         QStringLiteral("0\u00b0"), QStringLiteral("\u221290\u00b0"),
                                         QStringLiteral("\u2212180\u00b0")};
    static const QVPlotGrid::Scale coherence{QStringLiteral("1"), QStringLiteral("0.75"),
                                             QStringLiteral("0.5"), QStringLiteral("0.25"),
                                             QStringLiteral("0")};
    switch (field) {
        case TransferField::phase:
            return phase;
        case TransferField::coherence:
            return coherence;
        case TransferField::magnitude:
            break;
    }
    return magnitude;
}

std::vector<std::vector<TransferPlot::Run>> TransferPlot::paths(const Traces& traces, TransferField field,
                                                                double threshold, const QSizeF& size) {
    const double w = size.width();
    const double h = size.height();
    std::vector<std::vector<Run>> out;
    out.reserve(traces.size());
    for (const std::vector<TransferBin>& bins : traces) {
        std::vector<Run> path;
        bool penDown = false;
        double previous = 0;
        for (const TransferBin& bin : bins) {
            // Comparisons written so that NaN fails them.
            const bool inBand = bin.hz >= 20 && bin.hz <= 20000;
            const bool coherent = field == TransferField::coherence || bin.coherence >= threshold;
            if (!inBand || !coherent) {
                penDown = false;
                continue;
            }
            double raw = 0;
            double v = 0;
            switch (field) {
                case TransferField::phase:
                    raw = bin.phaseDegrees();
                    v = (raw + 180) / 360;
                    break;
                case TransferField::coherence:
                    raw = bin.coherence;
                    v = raw;
                    break;
                case TransferField::magnitude:
                    raw = bin.magnitudeDB();
                    v = (raw + 36) / 72;
                    break;
            }
            const double x = QVPlotGrid::x(bin.hz, w);
            double y = 0;
            if (v >= 1 || std::isnan(v))
                y = 0;
            else if (v < 0)
                y = h;
            else
                y = h * (1 - v);
            const double jump = std::fabs(raw - previous);
            const bool wraps = field == TransferField::phase && !(jump <= 180);
            if (!penDown || wraps) path.emplace_back();
            path.back().emplace_back(x, y);
            penDown = true;
            previous = raw;
        }
        out.push_back(std::move(path));
    }
    return out;
}

void TransferPlot::prepareCurves() {
    const double inset = QVPlotGrid::kCurveInset;
    std::vector<std::vector<Run>> runs =
        paths(traces_, field_, threshold_, QSizeF(width(), std::max(0.0, height() - 2 * inset)));
    curves_.assign(runs.size(), {});
    for (std::size_t i = 0; i < runs.size(); ++i) {
        for (Run& run : runs[i])
            for (QPointF& point : run) point.ry() += inset;
        curves_[i].setRuns(runs[i], devicePixelRatioF());
    }
}

void TransferPlot::resizeEvent(QResizeEvent*) { prepareCurves(); }

void TransferPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QVPlotGrid::paintFrame(p, QSizeF(size()), scale(field_));
    for (std::size_t i = 0; i < curves_.size(); ++i) curves_[i].paint(p, traceColor(i));
}

}  // namespace quorvel
