#include "kit/QVMessageLine.h"

#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <QTextOption>

namespace quorvel {

namespace {

// More than any line of any width shows: the rest of a longer text is only ever cut off.
constexpr qsizetype laidOutLength = 4096;

}  // namespace

QVMessageLine::QVMessageLine(int maxLines, Space space, QWidget* parent)
    : QLabel(parent), maxLines_(qMax(1, maxLines)), space_(space) {
    setWordWrap(false);  // the lines are laid out here, never by the label
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setRetainSizeWhenHidden(space_ == Space::kept);
    setSizePolicy(policy);
}

QStringList QVMessageLine::shownLines(int width) const {
    QStringList lines;
    const QString all = text();
    if (all.isEmpty() || width <= 0) return lines;
    QString shown = all.left(laidOutLength);
    shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(shown, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qsizetype lastStart = 0, end = 0;
    for (int n = 0; n < maxLines_; ++n) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        lastStart = line.textStart();
        end = lastStart + line.textLength();
        lines << shown.mid(lastStart, line.textLength()).trimmed();
    }
    layout.endLayout();
    const bool cut = all.size() > laidOutLength || !shown.mid(end).trimmed().isEmpty();
    if (cut && !lines.isEmpty()) {
        // The last line runs on to the end of its paragraph, cut where it no longer fits; "…" ends it
        // also when the paragraph fits, since more text follows.
        qsizetype stop = shown.indexOf(QChar::LineSeparator, lastStart);
        if (stop < 0) stop = shown.size();
        const QString paragraph = shown.mid(lastStart, stop - lastStart).trimmed();
        lines.last() = QFontMetrics(font()).elidedText(paragraph + QChar(0x2026), Qt::ElideRight, width);
    }
    return lines;
}

QSize QVMessageLine::sizeHint() const { return {0, heightForWidth(width() > 0 ? width() : 1)}; }

QSize QVMessageLine::minimumSizeHint() const { return {0, fontMetrics().lineSpacing()}; }

int QVMessageLine::heightForWidth(int width) const {
    const int lines =
        space_ == Space::kept ? maxLines_ : qMax<int>(1, int(shownLines(qMax(width, 1)).size()));
    return lines * fontMetrics().lineSpacing() + contentsMargins().top() + contentsMargins().bottom();
}

void QVMessageLine::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.setFont(font());
    const QRect area = contentsRect();
    const int spacing = fontMetrics().lineSpacing();
    const QStringList lines = shownLines(area.width());
    // Fewer lines than the space kept for them stand as the label's alignment says (centred by default).
    const QSize text(area.width(), int(lines.size()) * spacing);
    int y = QStyle::alignedRect(layoutDirection(), (alignment() & Qt::AlignVertical_Mask) | Qt::AlignLeft,
                                text, area)
                .top();
    for (const QString& line : lines) {
        p.drawText(QRect(area.left(), y, area.width(), spacing), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += spacing;
    }
}

}  // namespace quorvel
