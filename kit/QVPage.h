#pragma once
// A screen's page: a vertically scrolling column holding a large title, an optional subtitle and the
// page's blocks (usually QVCards), 18 px apart, padded 20 px, at most 1000 px wide and centred in wider
// windows, on the workspace background.
//
// A click never moves what is under the pointer: when the content changes height after the user pressed a
// control of the page (a status hidden, a group closed, a card shown above it), the page scrolls so that
// the control stays where it was on screen. Where that needs more scrolling than the content allows (the
// page at its end, say), blank room below the blocks makes up the difference; it goes as the user scrolls
// back up. The page makes a change of its content whole, and keeps the control in place, in the same turn
// of the event loop as the change, and before it hands on any later press: a second press at the point
// of the first lands on the same control however long the program took between the two.
//
// The control is held while the pointer stays where it pressed, until the user scrolls, presses elsewhere
// (in the page, the window or another window) or resizes the window; then the page keeps the view as it
// is, the same way as a view the user scrolled to, so the content never shrinks out from under it, and a
// change that comes later (an import's result, a device that comes back) leaves a page at its top there.
// Once the held control is gone and the blocks fit, the page is back at its top with no room below.
//
// A press that comes within the double-click interval and distance of the last one, once the control that
// one pressed is gone (a row removed by its own button), acts on nothing: it was aimed at the control that
// went, not at whatever took its place. The scroll bar's width stays blank while the bar is away, so the bar
// coming or going moves no block. Main thread only.
#include <QPointF>
#include <QPointer>
#include <QScrollArea>
#include <QString>
#include <optional>

class QHBoxLayout;
class QMouseEvent;
class QVBoxLayout;

namespace quorvel {

class QVPage : public QScrollArea {
    Q_OBJECT
public:
    static constexpr int kMaxWidth = 1000;  // padding included
    static constexpr int kPadding = 20;
    static constexpr int kSpacing = 18;

    // `content`, when given, is the first block below the header; more follow through add().
    explicit QVPage(const QString& title, const QString& subtitle = {}, QWidget* content = nullptr,
                    QWidget* parent = nullptr);

    // Appends a block below the previous ones. `alignment` as for QBoxLayout (empty: full width).
    void add(QWidget* block, Qt::Alignment alignment = {});
    void addLayout(QLayout* block);
    // Puts `block` right below `above`, a block of this page: for a block made after the ones below it.
    void addBelow(QWidget* above, QWidget* block);

    QString title() const { return title_; }
    QString subtitle() const { return subtitle_; }
    // The padded column that holds header and blocks.
    QWidget* column() const { return column_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Input to any object of the application, before it is delivered; true when it must act on nothing.
    bool watch(QObject* receiver, QEvent* event);
    // A press of a mouse button or a key sent to `receiver`, a widget; true when it must act on nothing.
    bool pressed(QWidget* receiver, QEvent* event);
    // True for a mouse press that repeats the last one quickly, at its point, once its control is gone.
    bool repeatsVanished(const QMouseEvent& press) const;
    // The pressed control is no longer held; the view as it is now is kept instead.
    void letGo();
    // A request to lay out `receiver`, a widget of the page or not; true when delivered here already.
    bool layoutRequested(QObject* receiver, QEvent* event);
    // Makes every layout change of the page that is pending now and keeps the view, before returning.
    void settle();
    // Runs settle() from the event loop: for changes the page sees from inside a layout or a scroll.
    void settleSoon();
    // Scrolls to the value that keeps the held control (or, with none, the view) in place, with the room
    // below the blocks that value needs.
    void keepView();
    // The bottom of the last block shown, padding included, in the scrolled widget's coordinates.
    int contentBottom() const;
    void setRoom(int room);
    void scrollTo(int value);
    // Keeps the scroll bar's width blank while the bar is hidden.
    void fitScrollBar();

    QString title_;
    QString subtitle_;
    QHBoxLayout* centre_ = nullptr;  // centres the column in the scrolled widget
    QWidget* column_ = nullptr;
    QVBoxLayout* blocks_ = nullptr;

    QPointer<QWidget> held_;  // the control the user pressed last, while it is held
    bool holding_ = false;    // a control is held (it may have gone since)
    int heldTop_ = 0;         // its top in the viewport when pressed
    bool free_ = true;        // no view to keep yet (nothing pressed or scrolled since the last resize)
    int value_ = 0;           // the scroll value the page keeps while nothing is held
    int room_ = 0;            // blank pixels below the blocks

    // The last mouse press on the page: where and when (the event's time), and its control.
    QPointer<QWidget> lastPressed_;
    QPointF lastPoint_;
    std::optional<quint64> lastTime_;
    bool pointerHeld_ = false;  // the control was held by that press, not by a key

    bool settling_ = false;   // settle() is running
    bool requested_ = false;  // a layout request of the page was delivered in settle()'s current pass
    bool changed_ = false;    // the page's layout or scroll range changed since the view was last kept
    bool settleQueued_ = false;
    bool settingValue_ = false;
    bool clampPending_ = false;
};

}  // namespace quorvel
