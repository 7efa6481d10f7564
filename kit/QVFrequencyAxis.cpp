#include "kit/QVFrequencyAxis.h"

#include <QPainter>
#include <algorithm>
#include <numeric>

#include "kit/QVPlotGrid.h"
#include "kit/QVStyle.h"

namespace quorvel {

QVFrequencyAxis::QVFrequencyAxis(QWidget* parent) : QWidget(parent) {
    setFont(QVStyle::monospaceFont(QVText::Caption2));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

const QStringList& QVFrequencyAxis::labels() {
    static const QStringList texts{QStringLiteral("20 Hz"), QStringLiteral("100"), QStringLiteral("1k"),
                                   QStringLiteral("10k"), QStringLiteral("20k")};
    return texts;
}

std::vector<QRectF> QVFrequencyAxis::labelRects(double width, double height,
                                                const std::vector<double>& widths) {
    const std::size_t n = std::min(widths.size(), kLabelFrequenciesHz.size());
    std::vector<double> left(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double centred = QVPlotGrid::x(kLabelFrequenciesHz[i], width) - widths[i] / 2;
        left[i] = std::clamp(centred, 0.0, std::max(0.0, width - widths[i]));
    }
    // Neighbours must not overlap: pull labels leftwards from the right edge, then push them rightwards
    // from the left edge. When the row is narrower than the labels together they end up touching from
    // the left edge on and the last ones run past the right edge.
    for (std::size_t i = n; i-- > 1;) {
        left[i - 1] = std::min(left[i - 1], left[i] - widths[i - 1]);
    }
    for (std::size_t i = 0; i < n; ++i) {
        const double floor = i == 0 ? 0.0 : left[i - 1] + widths[i - 1];
        left[i] = std::max(left[i], floor);
    }
    std::vector<QRectF> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) out.emplace_back(left[i], 0.0, widths[i], height);
    return out;
}

std::vector<double> QVFrequencyAxis::labelWidths() const {
    const QFontMetricsF fm(font());
    std::vector<double> widths;
    for (const QString& t : labels()) widths.push_back(fm.horizontalAdvance(t));
    return widths;
}

QSize QVFrequencyAxis::sizeHint() const {
    const std::vector<double> w = labelWidths();
    return {int(std::ceil(std::accumulate(w.begin(), w.end(), 0.0))) + 4 * 16, QFontMetrics(font()).height()};
}

QSize QVFrequencyAxis::minimumSizeHint() const {
    const std::vector<double> w = labelWidths();
    return {int(std::ceil(std::accumulate(w.begin(), w.end(), 0.0))), QFontMetrics(font()).height()};
}

void QVFrequencyAxis::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(QVStyle::secondary());
    const std::vector<QRectF> rects = labelRects(width(), height(), labelWidths());
    for (std::size_t i = 0; i < rects.size(); ++i) {
        p.drawText(rects[i], Qt::AlignCenter | Qt::TextDontClip, labels()[int(i)]);
    }
}

}  // namespace quorvel
