#include "kit/QVPage.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <utility>

#include "kit/QVStyle.h"

namespace quorvel {

namespace {

// Fills the scrolled area with the page background, whatever its size.
class PageBody final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QVStyle::background());
    }
};

// Reports every press of a mouse button or a key in the application, wherever it lands.
class PressWatcher final : public QObject {
public:
    PressWatcher(QObject* parent, std::function<void(QObject*, QEvent*)> pressed)
        : QObject(parent), pressed_(std::move(pressed)) {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick ||
            type == QEvent::KeyPress)
            pressed_(watched, event);
        return false;
    }

private:
    std::function<void(QObject*, QEvent*)> pressed_;
};

}  // namespace

QVPage::QVPage(const QString& title, const QString& subtitle, QWidget* content, QWidget* parent)
    : QScrollArea(parent), title_(title), subtitle_(subtitle) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QVStyle::background());
    setPalette(pal);
    setAutoFillBackground(true);

    auto* body = new PageBody;
    auto* centre = new QHBoxLayout(body);
    centre_ = centre;
    centre->setSpacing(0);
    column_ = new QWidget;
    column_->setMaximumWidth(kMaxWidth);
    column_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    // Only the column stretches; once it reaches its maximum the side spacers share what is left.
    centre->addStretch(0);
    centre->addWidget(column_, 1);
    centre->addStretch(0);

    blocks_ = new QVBoxLayout(column_);
    blocks_->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    blocks_->setSpacing(kSpacing);

    auto* header = new QVBoxLayout;
    header->setContentsMargins(0, 4, 0, 0);
    header->setSpacing(4);
    auto* titleLabel = new QLabel(title);
    titleLabel->setObjectName(QStringLiteral("qvPageTitle"));
    QVStyle::setText(titleLabel, QVText::LargeTitle, QVStyle::primary(), QFont::Bold);
    header->addWidget(titleLabel);
    if (!subtitle.isEmpty()) {
        auto* sub = new QLabel(subtitle);
        sub->setObjectName(QStringLiteral("qvPageSubtitle"));
        sub->setWordWrap(true);
        QVStyle::setText(sub, QVText::Subheadline, QVStyle::secondary());
        header->addWidget(sub);
    }
    blocks_->addLayout(header);
    blocks_->addStretch(1);  // keeps the blocks at the top of a tall page

    setWidget(body);
    // The body fills the viewport and paints the page's background itself. A viewport that filled itself
    // too would have the style sheet look up a style for it at each paint and keep it for good: the style
    // sheet does not style viewports, and so never forgets them.
    viewport()->setAutoFillBackground(false);
    if (content) add(content);

    // The scrolled widget's layout has been made by the time its events reach a filter.
    body->installEventFilter(this);
    new PressWatcher(this, [this](QObject* watched, QEvent* event) { pressed(watched, event); });
    QScrollBar* bar = verticalScrollBar();
    // The scroll area shows and hides the bar's container, not the bar.
    bar->parentWidget()->installEventFilter(this);
    fitScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        // The scroll bar brings its value into the new range right after this signal: nobody's scroll.
        clampPending_ = bar->value() > maximum;
        keepViewSoon();
    });
    connect(bar, &QScrollBar::valueChanged, this, [this](int value) {
        const bool clamped = std::exchange(clampPending_, false);
        if (settingValue_ || clamped) return;
        // The user scrolled (or the focus moved out of sight): that view is the one to keep now.
        held_.clear();
        free_ = false;
        value_ = value;
        keepViewSoon();
    });
}

void QVPage::pressed(QObject* receiver, QEvent* event) {
    auto* target = qobject_cast<QWidget*>(receiver);
    QWidget* body = widget();
    if (!target || (target != body && !body->isAncestorOf(target))) return;
    // The widget under the pointer, or the one the keys go to. (A press a child leaves to its parents is
    // reported once for each of them: this is the same every time.)
    QWidget* control = QApplication::focusWidget();
    if (event->type() != QEvent::KeyPress)
        control =
            body->childAt(body->mapFromGlobal(static_cast<QMouseEvent*>(event)->globalPosition().toPoint()));
    if (!control || !body->isAncestorOf(control)) control = body;
    held_ = control;
    heldTop_ = control->mapTo(viewport(), QPoint(0, 0)).y();
    free_ = false;
}

bool QVPage::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == widget() && (type == QEvent::LayoutRequest || type == QEvent::Resize)) keepViewSoon();
    if (watched == verticalScrollBar()->parentWidget() &&
        (type == QEvent::ShowToParent || type == QEvent::HideToParent || type == QEvent::StyleChange))
        fitScrollBar();
    return QScrollArea::eventFilter(watched, event);
}

// The scroll bar takes its width from the viewport as it comes; while it is away, the same width stays
// blank at the right of the scrolled widget. The blocks keep one width and place either way, so a click
// that makes the page taller than its window moves no control beside the one it pressed.
void QVPage::fitScrollBar() {
    const QWidget* bar = verticalScrollBar()->parentWidget();
    centre_->setContentsMargins(0, 0, bar->isVisibleTo(this) ? 0 : bar->sizeHint().width(), 0);
}

void QVPage::resizeEvent(QResizeEvent* event) {
    // Called for the viewport. A new height comes from the window: a new view, the scroll area's to make.
    // (A new width alone comes with the scroll bar and only re-wraps lines.)
    if (event->size().height() != event->oldSize().height()) {
        held_.clear();
        free_ = true;
    }
    QScrollArea::resizeEvent(event);
}

void QVPage::keepViewSoon() {
    // A change deep in the page reaches it one layout at a time; act once they are all made.
    if (std::exchange(keepQueued_, true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            keepQueued_ = false;
            keepView();
        },
        Qt::QueuedConnection);
}

void QVPage::keepView() {
    QScrollBar* bar = verticalScrollBar();
    if (free_) {
        setRoom(0);
        value_ = bar->value();
        return;
    }
    int target = value_;
    if (held_ && held_->isVisible()) target = held_->mapTo(widget(), QPoint(0, 0)).y() - heldTop_;
    target = std::max(target, 0);
    setRoom(target > 0 ? std::max(0, target + viewport()->height() - contentBottom()) : 0);
    value_ = target;
    // With more room to come, the value follows once the room is laid out.
    if (target <= bar->maximum()) scrollTo(target);
}

int QVPage::contentBottom() const {
    int bottom = 0;
    for (int i = 0; i < blocks_->count(); ++i) {
        QLayoutItem* item = blocks_->itemAt(i);
        if (!item->spacerItem() && !item->isEmpty()) bottom = std::max(bottom, item->geometry().bottom() + 1);
    }
    return column_->mapTo(widget(), QPoint(0, bottom)).y() + kPadding;
}

void QVPage::setRoom(int room) {
    if (room == room_) return;
    room_ = room;
    blocks_->setContentsMargins(kPadding, kPadding, kPadding, kPadding + room_);
}

void QVPage::scrollTo(int value) {
    settingValue_ = true;
    verticalScrollBar()->setValue(value);
    settingValue_ = false;
}

// Each new block also drops the column's size hint that the scrolled widget's layout keeps from before it:
// the first layout of the page then sees every block, and the scroll bar is settled in one pass instead of
// coming and going over two more layouts (and paints) of the whole page.
void QVPage::add(QWidget* block, Qt::Alignment alignment) {
    blocks_->insertWidget(blocks_->count() - 1, block, 0, alignment);
    column_->updateGeometry();
}

void QVPage::addLayout(QLayout* block) {
    blocks_->insertLayout(blocks_->count() - 1, block);
    column_->updateGeometry();
}

void QVPage::addBelow(QWidget* above, QWidget* block) {
    blocks_->insertWidget(blocks_->indexOf(above) + 1, block);
    column_->updateGeometry();
}

}  // namespace quorvel
