#include "screens/RowList.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>

#include "kit/QVIcons.h"

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

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {option.rect.width(), height_ + gap_};
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
    setFocusPolicy(Qt::NoFocus);
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
    if (event->button() != Qt::LeftButton) return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && rowRect(index.row()).contains(event->position().toPoint()))
        pressedRow_ = index.row();
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
