#include "kit/QVKeyboard.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScrollArea>
#include <QSet>
#include <QToolButton>

#include "kit/QVStyle.h"

namespace quorvel {

namespace QVKeyboard {

namespace {

constexpr const char* kLayoutOrder = "qvLayoutTabOrder";
constexpr double kRingWidth = 2;
constexpr int kRingGap = 1;  // between the control and the ring
constexpr int kRingReach = kRingGap + 2;

bool flag(const QWidget* w, const char* name) { return w->property(name).toBool(); }

// The ring around the focused control: a transparent child of the control's window, above everything
// else in it, cut by the scroll areas the control sits in.
class FocusRing final : public QWidget {
public:
    FocusRing() {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        setObjectName(QStringLiteral("qvFocusRing"));
    }

    void follow(QWidget* target) {
        for (QWidget* w : watched_)
            if (w) w->removeEventFilter(this);
        watched_.clear();
        target_ = target;
        if (!target) {
            hide();
            return;
        }
        for (QWidget* w = target; w; w = w->parentWidget()) {
            w->installEventFilter(this);
            watched_.append(w);
            if (w->isWindow()) break;
        }
        place();
    }

    void place() {
        QWidget* target = target_;
        if (!target || !target->isVisible()) {
            hide();
            return;
        }
        QWidget* window = target->window();
        if (parentWidget() != window) setParent(window);
        const QRect around = QRect(target->mapTo(window, QPoint(0, 0)), target->size())
                                 .adjusted(-kRingReach, -kRingReach, kRingReach, kRingReach);
        QRect visible = window->rect();
        for (QWidget* w = target->parentWidget(); w && w != window; w = w->parentWidget())
            if (auto* area = qobject_cast<QAbstractScrollArea*>(w->parentWidget());
                area && area->viewport() == w)
                visible &= QRect(w->mapTo(window, QPoint(0, 0)), w->size());
        const QRect shown = around & visible;
        if (shown.isEmpty()) {
            hide();
            return;
        }
        ring_ = QRectF(around.translated(-shown.topLeft()));
        radius_ = target->property(kFocusRadius).isValid() ? target->property(kFocusRadius).toDouble() : 6.0;
        setGeometry(shown);
        raise();
        show();
        update();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::Show:
            case QEvent::Hide:
            case QEvent::ChildAdded:  // a later sibling would cover the ring
                if (!placing_) {
                    placing_ = true;
                    place();
                    placing_ = false;
                }
                break;
            default:
                break;
        }
        return QWidget::eventFilter(watched, event);
    }

    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QVStyle::accent(), kRingWidth));
        const double half = kRingWidth / 2;
        const double inset = kRingReach - kRingGap - half;  // the stroke's centre line
        p.drawRoundedRect(ring_.adjusted(inset, inset, -inset, -inset), radius_ + kRingGap + half,
                          radius_ + kRingGap + half);
    }

private:
    QPointer<QWidget> target_;
    QList<QPointer<QWidget>> watched_;
    QRectF ring_;
    double radius_ = 6;
    bool placing_ = false;
};

// Whether Tab stops at `w`. Scroll areas that are not lists scroll with their content, not by focus.
bool takesTab(const QWidget* w) {
    if (!(w->focusPolicy() & Qt::TabFocus) || !w->isEnabled() || !w->isVisible()) return false;
    if (qobject_cast<const QAbstractScrollArea*>(w) && !qobject_cast<const QAbstractItemView*>(w))
        return false;
    return !w->focusProxy();
}

void collect(QWidget* w, QList<QWidget*>& out, QSet<QWidget*>& seen);

void collectLayout(QLayout* layout, QList<QWidget*>& out, QSet<QWidget*>& seen) {
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QWidget* w = item->widget())
            collect(w, out, seen);
        else if (QLayout* inner = item->layout())
            collectLayout(inner, out, seen);
    }
}

void collect(QWidget* w, QList<QWidget*>& out, QSet<QWidget*>& seen) {
    if (seen.contains(w) || !w->isVisible()) return;
    seen.insert(w);
    if (takesTab(w)) out.append(w);
    if (QLayout* layout = w->layout()) collectLayout(layout, out, seen);
    // Children outside any layout (a scroll area's viewport, overlays) follow those in it.
    for (QObject* child : w->children()) {
        auto* c = qobject_cast<QWidget*>(child);
        if (c && !c->isWindow()) collect(c, out, seen);
    }
}

void ensureVisible(QWidget* w) {
    for (QWidget* p = w->parentWidget(); p; p = p->parentWidget())
        if (auto* area = qobject_cast<QScrollArea*>(p)) {
            // The whole control and its ring (ensureWidgetVisible would settle for a text field's cursor).
            if (!area->widget() || !area->widget()->isAncestorOf(w)) return;
            const QPoint centre = w->mapTo(area->widget(), w->rect().center());
            area->ensureVisible(centre.x(), centre.y(), w->width() / 2 + 8, w->height() / 2 + 8);
            return;
        }
}

// Presses the focused control for Return and Enter; moves focus in layout order for Tab.
class Keys final : public QObject {
public:
    explicit Keys(QObject* parent) : QObject(parent) {
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
            if (!now) focus(nullptr);
        });
    }
    ~Keys() override { delete ring_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn && watched->isWidgetType()) {
            // The ring is for keyboard use: it shows once a key has moved the focus and goes with the
            // next press of the mouse; other moves (a window opening, a control hidden) keep the mode the
            // user was in. Qt gives such moves a Tab reason too (a dialog announces its first focus so,
            // and a hidden control passes the focus on so), hence the key must be under way.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (keyHandled_ && (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                                reason == Qt::ShortcutFocusReason))
                keyboard_ = true;
            else if (reason == Qt::MouseFocusReason)
                keyboard_ = false;
            focus(static_cast<QWidget*>(watched));
            return false;
        }
        if (event->type() == QEvent::MouseButtonPress) {
            keyHandled_ = false;
            if (keyboard_) {
                keyboard_ = false;
                focus(nullptr);
            }
            return false;
        }
        if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress ||
            event->type() == QEvent::Shortcut) {
            // A key is handled within this event's delivery: the flag goes when the event loop runs on.
            if (!keyHandled_)
                QMetaObject::invokeMethod(
                    this, [this] { keyHandled_ = false; }, Qt::QueuedConnection);
            keyHandled_ = true;
        }
        if (event->type() != QEvent::KeyPress) return false;
        auto* w = qobject_cast<QWidget*>(watched);
        // Keys go to the focused control, or to the window while nothing in it has the focus.
        if (!w || (w != QApplication::focusWidget() && !(w->isWindow() && !QApplication::focusWidget())))
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && mods == Qt::NoModifier)
            return press(w);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
            !(mods & (Qt::ControlModifier | Qt::AltModifier)) && flag(w->window(), kLayoutOrder))
            return step(w, key->key() == Qt::Key_Tab && !(mods & Qt::ShiftModifier));
        return false;
    }

private:
    bool press(QWidget* w) {
        if (flag(w, kHandlesReturn) || !w->isEnabled()) return false;
        if (auto* tool = qobject_cast<QToolButton*>(w);
            tool && tool->menu() && tool->popupMode() != QToolButton::DelayedPopup) {
            tool->showMenu();
            return true;
        }
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            button->click();
            return true;
        }
        if (auto* combo = qobject_cast<QComboBox*>(w); combo && !combo->isEditable()) {
            combo->showPopup();
            return true;
        }
        return false;
    }

    static bool step(QWidget* w, bool forward) {
        if (w->inherits("QTextEdit") || w->inherits("QPlainTextEdit")) return false;
        const QList<QWidget*> order = tabOrder(w->window());
        if (order.isEmpty()) return false;
        qsizetype at = order.indexOf(w);
        if (at < 0) {
            // Focus inside a control (an editor's own field): go on from the control that holds it.
            for (qsizetype i = 0; i < order.size() && at < 0; ++i)
                if (order[i]->isAncestorOf(w)) at = i;
        }
        const qsizetype n = order.size();
        const qsizetype next = at < 0 ? (forward ? 0 : n - 1) : (at + (forward ? 1 : n - 1)) % n;
        QWidget* target = order[next];
        target->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        ensureVisible(target);
        return true;
    }

    void focus(QWidget* now) {
        // A page (a scroll area around a column of controls) scrolls by the keys but is no control: a ring
        // around it would run along the frame of its window.
        const bool page = qobject_cast<QScrollArea*>(now) != nullptr;
        const bool ringed = keyboard_ && now && !now->isWindow() && !page && !flag(now, kOwnFocusRing) &&
                            now->window()->windowType() != Qt::Popup && (now->focusPolicy() & Qt::TabFocus);
        // The ring lives in a window and goes with it; a new one is made when needed.
        if (!ring_) ring_ = new FocusRing;
        ring_->follow(ringed ? now : nullptr);
    }

    QPointer<FocusRing> ring_;
    bool keyboard_ = false;
    bool keyHandled_ = false;  // a key event is being delivered
};

}  // namespace

void install() {
    static QPointer<Keys> keys;
    if (keys) return;
    keys = new Keys(qApp);
    qApp->installEventFilter(keys);
}

void followLayoutOrder(QWidget* window) { window->setProperty(kLayoutOrder, true); }

QList<QWidget*> tabOrder(QWidget* window) {
    QList<QWidget*> out;
    QSet<QWidget*> seen;
    collect(window, out, seen);
    out.removeAll(window);
    return out;
}

}  // namespace QVKeyboard

}  // namespace quorvel
