#include "screens/RowList.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QStyledItemDelegate>
#include <algorithm>

#include "kit/QVIcons.h"
#include "kit/QVKeyboard.h"
#include "kit/QVStyle.h"

namespace quorvel {

namespace RowPaint {

void fillRounded(QPainter& p, const QRectF& rect, qreal radius, const QColor& color) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    p.fillPath(path, color);
}

void symbol(QPainter& p, const QRect& box, const QString& name, int pixels, const QColor& color) {
    const qreal dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    const QRect target(box.center().x() - pixels / 2 + 1, box.center().y() - pixels / 2 + 1, pixels, pixels);
    p.drawPixmap(target, QVIcons::pixmap(name, pixels, color, dpr));
}

void line(QPainter& p, const QRect& box, const QString& text, const QFont& font, const QColor& color,
          Qt::Alignment alignment) {
    p.setFont(font);
    p.setPen(color);
    p.drawText(box, int(alignment), QFontMetrics(font).elidedText(text, Qt::ElideRight, box.width()));
}

}  // namespace RowPaint

class RowList::Model final : public QAbstractListModel {
public:
    explicit Model(Text text, QObject* parent) : QAbstractListModel(parent), text_(std::move(text)) {}

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : count_; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || !text_) return {};
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return text_(index.row());
        return {};
    }
    void setCount(int count) {
        beginResetModel();
        count_ = count;
        endResetModel();
    }

private:
    Text text_;
    int count_ = 0;
};

class RowList::Delegate final : public QStyledItemDelegate {
public:
    Delegate(int height, int gap, Painter paint, QObject* parent)
        : QStyledItemDelegate(parent), height_(height), gap_(gap), paint_(std::move(paint)) {}

    // No width of its own: the list gives every row the width of its viewport as it is now (a width taken
    // from the row's last paint would stay behind when the list narrows, and clip the rows' right ends).
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {0, height_ + gap_};
    }
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        paint_(*painter, option.rect.adjusted(0, 0, 0, -gap_), index.row());
        painter->restore();
    }

private:
    int height_;
    int gap_;
    Painter paint_;
};

RowList::RowList(int rowHeight, int gap, Painter paint, Text text, QWidget* parent)
    : QListView(parent), rowHeight_(rowHeight), gap_(gap), model_(new Model(std::move(text), this)) {
    setModel(model_);
    setItemDelegate(new Delegate(rowHeight, gap, std::move(paint), this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::StrongFocus);
    setProperty(QVKeyboard::kHandlesReturn, true);
    setProperty(QVKeyboard::kOwnFocusRing, true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    viewport()->setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QListView { background: transparent; border: none; }"));
    setMouseTracking(true);
    setFixedHeight(0);
}

void RowList::setRowCount(int count) {
    model_->setCount(count);
    currentRow_ = std::min(currentRow_, count - 1);
    setFixedHeight(contentHeight());
    viewport()->update();
}

int RowList::rowCount() const { return model_->rowCount(); }

QRect RowList::rowRect(int row) const { return visualRect(model_->index(row, 0)).adjusted(0, 0, 0, -gap_); }

int RowList::contentHeight() const {
    const int count = model_->rowCount();
    // The last row keeps no gap below it.
    return count == 0 ? 0 : count * (rowHeight_ + gap_) - gap_;
}

QSize RowList::sizeHint() const { return {QListView::sizeHint().width(), contentHeight()}; }
QSize RowList::minimumSizeHint() const { return {0, contentHeight()}; }

void RowList::mousePressEvent(QMouseEvent* event) {
    pressedRow_ = -1;
    keyboardFocus_ = false;
    if (event->button() != Qt::LeftButton) return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && rowRect(index.row()).contains(event->position().toPoint())) {
        pressedRow_ = index.row();
        setCurrentRow(pressedRow_);
    }
}

void RowList::setCurrentRow(int row) {
    row = rowCount() == 0 ? -1 : std::clamp(row, 0, rowCount() - 1);
    if (row == currentRow_) return;
    currentRow_ = row;
    if (row >= 0) {
        // The list is as tall as its rows: the page around it does the scrolling.
        for (QWidget* w = parentWidget(); w; w = w->parentWidget())
            if (auto* area = qobject_cast<QScrollArea*>(w); area && area->widget()) {
                const QRect r = rowRect(row);
                const QPoint centre = viewport()->mapTo(area->widget(), r.center());
                area->ensureVisible(centre.x(), centre.y(), 0, r.height() / 2 + 8);
                break;
            }
    }
    viewport()->update();
}

void RowList::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (mods == Qt::NoModifier && (key == Qt::Key_Up || key == Qt::Key_Down) && rowCount() > 0) {
        keyboardFocus_ = true;
        setCurrentRow(currentRow_ < 0 ? 0 : currentRow_ + (key == Qt::Key_Down ? 1 : -1));
        viewport()->update();
    } else if (mods == Qt::NoModifier && (key == Qt::Key_Return || key == Qt::Key_Enter) &&
               currentRow_ >= 0) {
        emit rowActivated(currentRow_);
    } else if ((key == Qt::Key_Menu && mods == Qt::NoModifier) ||
               (key == Qt::Key_F10 && mods == Qt::ShiftModifier)) {
        if (currentRow_ >= 0) emit rowMenuRequested(currentRow_);
    } else {
        QWidget::keyPressEvent(event);  // not the list view's own navigation
    }
}

void RowList::contextMenuEvent(QContextMenuEvent* event) {
    int row = currentRow_;
    if (event->reason() == QContextMenuEvent::Mouse) {
        const QModelIndex index = indexAt(viewport()->mapFrom(this, event->pos()));
        row = index.isValid() ? index.row() : -1;
    }
    if (row >= 0) emit rowMenuRequested(row);
}

void RowList::focusInEvent(QFocusEvent* event) {
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason)
        keyboardFocus_ = true;
    else if (reason == Qt::MouseFocusReason)
        keyboardFocus_ = false;
    if (currentRow_ < 0) setCurrentRow(reason == Qt::BacktabFocusReason ? rowCount() - 1 : 0);
    viewport()->update();
}

void RowList::focusOutEvent(QFocusEvent*) { viewport()->update(); }

void RowList::paintEvent(QPaintEvent* event) {
    QListView::paintEvent(event);
    if (!hasFocus() || !keyboardFocus_ || currentRow_ < 0) return;
    QPainter p(viewport());
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QVStyle::accent(), 2));
    const double radius =
        property(QVKeyboard::kFocusRadius).isValid() ? property(QVKeyboard::kFocusRadius).toDouble() : 12;
    p.drawRoundedRect(QRectF(rowRect(currentRow_)).adjusted(1, 1, -1, -1), radius - 1, radius - 1);
}

void RowList::mouseReleaseEvent(QMouseEvent* event) {
    const int pressed = pressedRow_;
    pressedRow_ = -1;
    if (event->button() != Qt::LeftButton || pressed < 0) return;
    const QPoint at = event->position().toPoint();
    const QRect rect = rowRect(pressed);
    if (rect.contains(at)) emit rowClicked(pressed, at - rect.topLeft());
}

void RowList::mouseMoveEvent(QMouseEvent*) {}
void RowList::mouseDoubleClickEvent(QMouseEvent*) {}

}  // namespace quorvel
