#include "kit/QVAction.h"

#include <QPainter>
#include <QPainterPath>

#include "kit/QVFormat.h"
#include "kit/QVIcons.h"
#include "kit/QVKeyboard.h"
#include "kit/QVStyle.h"

namespace quorvel {

namespace {
constexpr int kIconSize = 17;
constexpr int kIconGap = 8;
constexpr int kPadX = 16;
}  // namespace

QVAction::QVAction(const QString& title, const QString& icon, bool prominent, std::function<void()> action,
                   QWidget* parent)
    : QAbstractButton(parent), iconName_(icon), prominent_(prominent), action_(std::move(action)) {
    setText(qvLiteral(title));
    setFont(QVStyle::font(QVText::Headline));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(title);
    setProperty(QVKeyboard::kFocusRadius, kRadius);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_) action_();
    });
}

QString QVAction::title() const { return qvShown(text()); }

void QVAction::setTitle(const QString& title) {
    if (title == this->title()) return;
    setText(qvLiteral(title));
    setAccessibleName(title);
    updateGeometry();
    update();
}

void QVAction::setIconName(const QString& icon) {
    if (icon == iconName_) return;
    iconName_ = icon;
    update();
}

void QVAction::setProminent(bool prominent) {
    if (prominent == prominent_) return;
    prominent_ = prominent;
    update();
}

QSize QVAction::sizeHint() const {
    const QFontMetrics fm(font());
    const int icon = iconName_.isEmpty() ? 0 : kIconSize + kIconGap;
    return {icon + fm.horizontalAdvance(title()) + 2 * kPadX, qMax(kMinHeight, fm.height() + 16)};
}

QSize QVAction::minimumSizeHint() const { return {kIconSize + 2 * kPadX, sizeHint().height()}; }

void QVAction::enterEvent(QEnterEvent* e) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(e);
}

void QVAction::leaveEvent(QEvent* e) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(e);
}

void QVAction::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // Plain-button looks: dimmed while pressed or disabled.
    if (!isEnabled())
        p.setOpacity(0.4);
    else if (isDown())
        p.setOpacity(0.7);

    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(box, kRadius, kRadius);
    QColor fill = prominent_ ? QVStyle::accent() : QColor::fromRgbF(1, 1, 1, 0.07f);
    if (hovered_ && isEnabled() && !isDown())
        fill = prominent_ ? fill.lighter(108) : QColor::fromRgbF(1, 1, 1, 0.1f);
    p.fillPath(shape, fill);

    const QColor ink = prominent_ ? QVStyle::background() : QVStyle::primary();
    const QFontMetrics fm(font());
    const bool hasIcon = !iconName_.isEmpty();
    const int iconRoom = hasIcon ? kIconSize + kIconGap : 0;
    const QString label = fm.elidedText(title(), Qt::ElideRight, qMax(0, width() - 2 * kPadX - iconRoom));
    const int faceWidth = iconRoom + fm.horizontalAdvance(label);
    const int x0 = (width() - faceWidth) / 2;
    if (hasIcon) {
        const QRect iconBox(x0, (height() - kIconSize) / 2, kIconSize, kIconSize);
        p.drawPixmap(iconBox, QVIcons::pixmap(iconName_, kIconSize, ink, devicePixelRatioF()));
    }
    p.setPen(ink);
    p.drawText(QRect(x0 + iconRoom, 0, width() - x0 - iconRoom, height()), Qt::AlignVCenter | Qt::AlignLeft,
               label);
}

}  // namespace quorvel
