#pragma once
// A page's message line: a store's or a player's last result or failure, in the caption font. It wraps at
// word boundaries, and anywhere inside a word too long for its width (a path, a number quoted from a
// file), shows at most maxLines() lines and ends the last with "…" when the text needs more. It asks for
// no width of its own, so a long message never widens the page. A line break in the text starts a new
// line.
//
// A line that comes and goes with a state (a status, a refusal, a hint) keeps its space (Space::kept): it
// is always as high as maxLines() lines and stays in its layout while hidden, so a click that shows, hides
// or rewords it never moves the controls around it. Main thread only.
#include <QLabel>
#include <QStringList>

namespace quorvel {

class QVMessageLine : public QLabel {
    Q_OBJECT
public:
    // The room the line takes in its layout: the height of the lines it shows, or always that of
    // maxLines(), also while it is hidden.
    enum class Space { fitted, kept };

    explicit QVMessageLine(int maxLines = 2, Space space = Space::fitted, QWidget* parent = nullptr);

    int maxLines() const { return maxLines_; }
    // The lines as drawn at `width` pixels, the last cut with "…" when the text needs more.
    QStringList shownLines(int width) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    int maxLines_;
    Space space_;
};

}  // namespace quorvel
