#pragma once
// The row of frequency labels under a plot: "20 Hz", "100", "1k", "10k", "20k", each centred on its
// frequency's position on the plots' scale (see QVPlotGrid::x), so a label stands under its own grid line.
// The first and last labels are kept inside the row's edges, and in a narrow row labels are pushed apart
// until they touch rather than overlap. Main thread only.
#include <QRectF>
#include <QStringList>
#include <QWidget>
#include <array>
#include <vector>

namespace quorvel {

class QVFrequencyAxis : public QWidget {
    Q_OBJECT
public:
    static constexpr std::array<double, 5> kLabelFrequenciesHz{20, 100, 1000, 10000, 20000};

    explicit QVFrequencyAxis(QWidget* parent = nullptr);

    // The five label texts, left to right.
    static const QStringList& labels();
    // Where the labels go in a row `width` × `height`, given each label's text width. Any thread.
    static std::vector<QRectF> labelRects(double width, double height,
                                          const std::vector<double>& labelWidths);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    std::vector<double> labelWidths() const;
};

}  // namespace quorvel
