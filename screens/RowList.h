#pragma once
// A list of painted rows of one height for the player screens: a model/view list that only paints the
// rows in sight, so a playlist of thousands of tracks costs no widgets. It is as tall as all its rows
// (the page around it scrolls) and reports presses by row and by the point inside the row, leaving hit
// areas to the screen that paints the rows.
//
// The list takes the focus as one stop of the Tab order and keeps a current row: Up and Down move it
// (the page scrolls to keep it in sight), Return or Enter activates it, and the context-menu key asks for
// its menu. While the list has the keyboard's focus the current row shows the accent focus ring. Main
// thread only.
#include <QAbstractListModel>
#include <QListView>
#include <functional>

class QPainter;

namespace quorvel {

// Drawing helpers for the rows. Main thread only.
namespace RowPaint {
// Fills a rounded rectangle.
void fillRounded(QPainter& painter, const QRectF& rect, qreal radius, const QColor& color);
// Draws `symbol`, `pixels` square, centred in `box`.
void symbol(QPainter& painter, const QRect& box, const QString& symbol, int pixels, const QColor& color);
// One line of text in `box`, cut with an ellipsis when too long.
void line(QPainter& painter, const QRect& box, const QString& text, const QFont& font, const QColor& color,
          Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);
}  // namespace RowPaint

class RowList : public QListView {
    Q_OBJECT
public:
    // Paints row `row` into `rect` (the row without the gap below it).
    using Painter = std::function<void(QPainter& painter, const QRect& rect, int row)>;
    // A row's accessible text.
    using Text = std::function<QString(int row)>;

    RowList(int rowHeight, int gap, Painter paint, Text text = {}, QWidget* parent = nullptr);

    // Sets the number of rows and repaints them all (call after any change of what the rows show).
    void setRowCount(int count);
    int rowCount() const;
    // Where row `row` is drawn, in the list's viewport, without its gap.
    QRect rowRect(int row) const;
    // The row the keyboard works on; -1 while there is none. Setting it clamps it to the rows there are.
    int currentRow() const { return currentRow_; }
    void setCurrentRow(int row);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // A press and release of the left button within the same row; `point` is relative to the row's top left.
    void rowClicked(int row, QPoint point);
    // Return or Enter on the current row.
    void rowActivated(int row);
    // The context-menu key (or a right click) on a row.
    void rowMenuRequested(int row);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    class Model;
    class Delegate;
    int contentHeight() const;

    int rowHeight_;
    int gap_;
    Model* model_;
    int pressedRow_ = -1;
    int currentRow_ = -1;
    bool keyboardFocus_ = false;
};

}  // namespace quorvel
