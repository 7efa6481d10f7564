#pragma once
// A screen's page: a vertically scrolling column holding a large title, an optional subtitle and the
// page's blocks (usually QVCards), 18 px apart, padded 20 px, at most 1000 px wide and centred in wider
// windows, on the workspace background.
//
// A click never moves what is under the pointer: when the content changes height after the user pressed a
// control of the page (a status hidden, a group closed, a card shown above it), the page scrolls so that
// the control stays where it was on screen. Where that needs more scrolling than the content allows (the
// page at its end, say), blank room below the blocks makes up the difference; it goes as the user scrolls
// back up. The control is held until the user scrolls, presses elsewhere or resizes the window; a view the
// user scrolled to is kept the same way, so the content never shrinks out from under it. The scroll bar's
// width stays blank while the bar is away, so the bar coming or going moves no block. Main thread only.
#include <QPointer>
#include <QScrollArea>
#include <QString>

class QHBoxLayout;
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
    // A press of a mouse button or a key anywhere in the application, sent to `receiver`.
    void pressed(QObject* receiver, QEvent* event);
    // Runs keepView() once the layout changes queued so far have been made.
    void keepViewSoon();
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

    QPointer<QWidget> held_;  // the control the user pressed last
    int heldTop_ = 0;         // its top in the viewport when pressed
    bool free_ = true;        // no view to keep yet (nothing pressed or scrolled since the last resize)
    int value_ = 0;           // the scroll value the page keeps while nothing is held
    int room_ = 0;            // blank pixels below the blocks
    bool settingValue_ = false;
    bool clampPending_ = false;
    bool keepQueued_ = false;
};

}  // namespace quorvel
