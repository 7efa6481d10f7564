#include "kit/QVPage.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyleHints>
#include <QVBoxLayout>
#include <QWindow>
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

// Shows the page every input event and layout request of the application before it is delivered; the
// page may keep an event from its receiver.
class Watcher final : public QObject {
public:
    Watcher(QObject* parent, std::function<bool(QObject*, QEvent*)> watch)
        : QObject(parent), watch_(std::move(watch)) {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseMove:
            case QEvent::KeyPress:
            case QEvent::Wheel:
            case QEvent::LayoutRequest:
                return watch_(watched, event);
            default:
                return false;
        }
    }

private:
    std::function<bool(QObject*, QEvent*)> watch_;
};

// More than the depth of any page's widgets: each pass of settle() climbs one layout.
constexpr int kMaxSettlePasses = 64;

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
    new Watcher(this, [this](QObject* watched, QEvent* event) { return watch(watched, event); });
    QScrollBar* bar = verticalScrollBar();
    // The scroll area shows and hides the bar's container, not the bar.
    bar->parentWidget()->installEventFilter(this);
    fitScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        // The scroll bar brings its value into the new range right after this signal: nobody's scroll.
        clampPending_ = bar->value() > maximum;
        settleSoon();
    });
    connect(bar, &QScrollBar::valueChanged, this, [this](int value) {
        const bool clamped = std::exchange(clampPending_, false);
        if (settingValue_ || clamped) return;
        // The user scrolled (or the focus moved out of sight): that view is the one to keep now.
        held_.clear();
        holding_ = false;
        free_ = false;
        value_ = value;
        settleSoon();
    });
}

bool QVPage::watch(QObject* receiver, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::LayoutRequest) return layoutRequested(receiver, event);
    if (receiver->isWindowType()) {
        // Input the window system gives a window, before the window finds the widget it goes to: what
        // the page still has to lay out is laid out first, so the widget is the one the user sees there.
        if (isVisible() && receiver == static_cast<QObject*>(window()->windowHandle()) &&
            type != QEvent::MouseMove)
            settle();
        if (type == QEvent::MouseMove && holding_ && pointerHeld_ &&
            (static_cast<QMouseEvent*>(event)->globalPosition() - lastPoint_).manhattanLength() >
                QGuiApplication::styleHints()->mouseDoubleClickDistance())
            letGo();
        return false;
    }
    auto* target = qobject_cast<QWidget*>(receiver);
    const bool press =
        type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick || type == QEvent::KeyPress;
    return target && press && pressed(target, event);
}

bool QVPage::pressed(QWidget* target, QEvent* event) {
    QWidget* body = widget();
    const bool mouse = event->type() != QEvent::KeyPress;
    if (target != body && !body->isAncestorOf(target)) {
        // The user works elsewhere now (the window's other parts, a menu, a dialog).
        letGo();
        return false;
    }
    // Meant for the control that went; its release then reaches a control that was never pressed, which
    // does nothing with it either.
    if (mouse && repeatsVanished(*static_cast<QMouseEvent*>(event))) return true;
    // The widget under the pointer, or the one the keys go to. (A press a child leaves to its parents is
    // reported once for each of them: this is the same every time.)
    QWidget* control = QApplication::focusWidget();
    if (mouse) {
        const auto* press = static_cast<QMouseEvent*>(event);
        control = body->childAt(body->mapFromGlobal(press->globalPosition().toPoint()));
        lastPoint_ = press->globalPosition();
        lastTime_ = press->timestamp();
    }
    if (!control || !body->isAncestorOf(control)) control = body;
    if (mouse) lastPressed_ = control;
    pointerHeld_ = mouse;
    held_ = control;
    holding_ = true;
    heldTop_ = control->mapTo(viewport(), QPoint(0, 0)).y();
    free_ = false;
    return false;
}

bool QVPage::repeatsVanished(const QMouseEvent& press) const {
    if (!lastTime_ || (lastPressed_ && lastPressed_->isVisible())) return false;
    const QStyleHints* hints = QGuiApplication::styleHints();
    return press.timestamp() >= *lastTime_ &&
           press.timestamp() - *lastTime_ <= quint64(hints->mouseDoubleClickInterval()) &&
           (press.globalPosition() - lastPoint_).manhattanLength() <= hints->mouseDoubleClickDistance();
}

void QVPage::letGo() {
    if (!holding_) return;
    held_.clear();
    holding_ = false;
    value_ = verticalScrollBar()->value();
}

bool QVPage::layoutRequested(QObject* receiver, QEvent* event) {
    auto* target = qobject_cast<QWidget*>(receiver);
    if (!target || (target != viewport() && !viewport()->isAncestorOf(target))) return false;
    changed_ = true;
    if (settling_) {
        requested_ = true;
        return false;
    }
    if (!isVisible()) return false;
    // A change deep in the page reaches it one layout at a time, a turn of the event loop each, with the
    // user's input handled in between: deliver this request now and make all that follows from it.
    settling_ = true;
    QCoreApplication::sendEvent(receiver, event);
    settling_ = false;
    settle();
    return true;
}

void QVPage::settle() {
    if (settling_) return;
    settling_ = true;
    for (int pass = 0; pass < kMaxSettlePasses; ++pass) {
        requested_ = false;
        // The requests the last pass made (a widget's new size goes to the layout that holds it).
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        if (requested_) continue;
        if (!changed_) break;
        // The scroll area takes the scrolled widget's new size now rather than from a request of its own.
        QEvent request(QEvent::LayoutRequest);
        QCoreApplication::sendEvent(this, &request);
        keepView();  // new room below the blocks is one more request
        changed_ = false;
    }
    settling_ = false;
}

void QVPage::settleSoon() {
    changed_ = true;
    if (settling_ || std::exchange(settleQueued_, true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            settleQueued_ = false;
            settle();
        },
        Qt::QueuedConnection);
}

bool QVPage::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == widget() && (type == QEvent::LayoutRequest || type == QEvent::Resize)) settleSoon();
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
        holding_ = false;
        free_ = true;
    }
    QScrollArea::resizeEvent(event);
}

void QVPage::keepView() {
    QScrollBar* bar = verticalScrollBar();
    if (free_) {
        setRoom(0);
        value_ = bar->value();
        return;
    }
    int target = value_;
    if (held_ && held_->isVisible()) {
        target = held_->mapTo(widget(), QPoint(0, 0)).y() - heldTop_;
    } else if (holding_ && isVisible() && contentBottom() <= viewport()->height()) {
        // The pressed control is gone and the rest fits: nothing is left to keep where it was.
        letGo();
        target = 0;
    }
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
