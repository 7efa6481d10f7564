#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QVBoxLayout>

#include "QtPrinting.h"
#include "kit/QVMessageLine.h"

namespace quorvel {

// Words wrap at spaces, a word wider than the line anywhere, and a text that needs more than the lines
// given ends the last with "…"; a line break in the text starts a new line.
TEST(QVMessageLine, WrapsAnywhereWhenItMustAndCutsTheLastLine) {
    QVMessageLine line(2);
    const int width = 200;
    line.setText(QStringLiteral("Import complete"));
    EXPECT_EQ(line.shownLines(width), QStringList{"Import complete"});

    line.setText(QString(5000, '7'));
    QStringList shown = line.shownLines(width);
    ASSERT_EQ(shown.size(), 2);
    for (const QString& text : shown)
        EXPECT_LE(line.fontMetrics().horizontalAdvance(text), width) << text.toStdString();
    EXPECT_TRUE(shown[0].startsWith("7777"));
    EXPECT_TRUE(shown[1].endsWith(u'\u2026'));

    line.setText(
        QStringLiteral("song.wav: Reference player supports mono/stereo files\nsong2.wav: bad\nthird"));
    shown = line.shownLines(1000);
    EXPECT_EQ(shown, (QStringList{"song.wav: Reference player supports mono/stereo files",
                                  QStringLiteral("song2.wav: bad\u2026")}));
    line.setText(QStringLiteral("one\ntwo"));
    EXPECT_EQ(line.shownLines(1000), (QStringList{"one", "two"}));

    // It asks for no width, and for the height of the lines it shows.
    EXPECT_EQ(line.minimumSizeHint().width(), 0);
    EXPECT_EQ(line.heightForWidth(1000), 2 * line.fontMetrics().lineSpacing());
    line.setText(QStringLiteral("one"));
    EXPECT_EQ(line.heightForWidth(1000), line.fontMetrics().lineSpacing());
}

// A line that keeps its space is as high as all its lines, whatever it shows, and hidden too.
TEST(QVMessageLine, AKeptLineNeverMovesWhatIsBelowIt) {
    QWidget box;
    auto* column = new QVBoxLayout(&box);
    auto* line = new QVMessageLine(2, QVMessageLine::Space::kept);
    auto* below = new QWidget;
    column->addWidget(line);
    column->addWidget(below);
    column->addStretch(1);
    box.resize(300, 200);
    box.show();
    QCoreApplication::processEvents();
    const int y = below->y();
    EXPECT_EQ(line->height(), 2 * line->fontMetrics().lineSpacing());
    for (const QString& text : {QStringLiteral("one"), QString(500, 'x'), QString()}) {
        line->setText(text);
        line->setVisible(!text.isEmpty());
        QCoreApplication::processEvents();
        EXPECT_EQ(below->y(), y) << text.size();
    }
}

}  // namespace quorvel
