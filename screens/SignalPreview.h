#pragma once
// A small decorative drawing of a signal kind's shape: an irregular line for the noises, a sine that
// speeds up for the sweeps, and four plain sine periods for every other kind. It depends on the kind
// alone; nothing of the real signal is rendered or analysed. The drawing fills whatever size it is given.
// Each shape is drawn once per size and kept in the application's pixmap cache, so that a page built
// afresh paints a copy. Main thread only.
#include <QPixmap>
#include <QPointF>
#include <QSize>
#include <QSizeF>
#include <QWidget>
#include <vector>

#include "dsp/SignalSettings.h"

namespace quorvel {

class SignalPreview : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSegments = 240;
    static constexpr double kCornerRadius = 14;

    explicit SignalPreview(SignalKind kind, QWidget* parent = nullptr);

    SignalKind kind() const { return kind_; }
    // Changes the kind shown, with the accessibility label.
    void setKind(SignalKind kind);

    // The drawn line for `kind` in a box of `size` (origin top left, y downwards): kSegments + 1 points,
    // starting at (0, h/2) and ending at x = w, within 0.32 h of the centre line. Any thread.
    static std::vector<QPointF> points(SignalKind kind, QSizeF size);
    // "<kind's raw value> waveform illustration".
    static QString accessibilityLabel(SignalKind kind);
    // What a preview of `kind` paints at `size` (in device-independent pixels) on a screen of `dpr`
    // pixels per unit: the background and the line on transparency. Null for an empty size.
    static QPixmap picture(SignalKind kind, QSize size, qreal dpr);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    SignalKind kind_;
};

}  // namespace quorvel
