#include "screens/TransferPlot.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "kit/QVPlotGrid.h"
#include "kit/QVStyle.h"
#include "screens/ScreenControls.h"

namespace quorvel {

namespace {

enum class View { Magnitude, Phase, Coherence };

View viewOf(const QString& field) {
    if (field == QLatin1String("Phase")) return View::Phase;
    if (field == QLatin1String("Coherence")) return View::Coherence;
    return View::Magnitude;
}

}  // namespace

TransferPlot::TransferPlot(Traces traces, const QString& field, double threshold, QWidget* parent)
    : QWidget(parent), traces_(std::move(traces)), field_(field), threshold_(threshold) {
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TransferPlot::setTraces(Traces traces) {
    traces_ = std::move(traces);
    update();
}

void TransferPlot::setField(const QString& field) {
    field_ = field;
    update();
}

void TransferPlot::setThreshold(double threshold) {
    threshold_ = threshold;
    update();
}

QSize TransferPlot::sizeHint() const { return {600, kHeight}; }

QColor TransferPlot::traceColor(std::size_t index) {
    return index == 0 ? QVStyle::accent() : ScreenColors::orange();
}

std::vector<std::vector<TransferPlot::Run>> TransferPlot::paths(const Traces& traces, const QString& field,
                                                                double threshold, const QSizeF& size) {
    const View view = viewOf(field);
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
            const bool coherent = view == View::Coherence || bin.coherence >= threshold;
            if (!inBand || !coherent) {
                penDown = false;
                continue;
            }
            double raw = 0;
            double v = 0;
            switch (view) {
                case View::Phase:
                    raw = bin.phaseDegrees();
                    v = (raw + 180) / 360;
                    break;
                case View::Coherence:
                    raw = bin.coherence;
                    v = raw;
                    break;
                case View::Magnitude:
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
            const bool wraps = view == View::Phase && !(jump <= 180);
            if (!penDown || wraps) path.emplace_back();
            path.back().emplace_back(x, y);
            penDown = true;
            previous = raw;
        }
        out.push_back(std::move(path));
    }
    return out;
}

void TransferPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintPlotFrame(p, QSizeF(size()));

    const std::vector<std::vector<Run>> curves = paths(traces_, field_, threshold_, QSizeF(size()));
    for (std::size_t i = 0; i < curves.size(); ++i) {
        QPainterPath path;
        for (const Run& run : curves[i]) {
            if (run.size() < 2) continue;  // a lone point strokes nothing
            path.moveTo(run.front());
            for (std::size_t k = 1; k < run.size(); ++k) path.lineTo(run[k]);
        }
        p.strokePath(path, QPen(traceColor(i), 2.0));
    }
}

}  // namespace quorvel
