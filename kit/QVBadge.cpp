#include "kit/QVBadge.h"

#include <QPainter>
#include <QPainterPath>

namespace quorvel {

namespace {
constexpr int kPadX = 10;
constexpr int kPadY = 6;
}  // namespace

QVBadge::QVBadge(const QString& title, const QColor& color, QWidget* parent)
    : QWidget(parent), title_(title), color_(color) {
    setFont(QVStyle::font(QVText::Caption, QFont::DemiBold));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void QVBadge::setTitle(const QString& title) {
    if (title == title_) return;
    title_ = title;
    updateGeometry();
    update();
}

void QVBadge::setColor(const QColor& color) {
    if (color == color_) return;
    color_ = color;
    update();
}

QSize QVBadge::sizeHint() const {
    const QFontMetrics fm(font());
    return {fm.horizontalAdvance(title_) + 2 * kPadX, fm.height() + 2 * kPadY};
}

void QVBadge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(rect());
    QPainterPath capsule;
    capsule.addRoundedRect(box, box.height() / 2, box.height() / 2);
    QColor fill = color_;
    fill.setAlphaF(color_.alphaF() * 0.12f);
    p.fillPath(capsule, fill);
    p.setPen(color_);
    p.drawText(rect(), Qt::AlignCenter, title_);
}

}  // namespace quorvel
