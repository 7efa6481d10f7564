// The row list and the stepper the pages share; the pages' tests walk the picker and the disclosure group.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "QtPrinting.h"
#include "ScreenTesting.h"
#include "screens/RowList.h"

namespace quorvel {

TEST(RowList, AClickReportsThePointInItsRowAndFewerRowsKeepTheCurrentOneWithinThem) {
    RowList rows(40, 4, [](QPainter&, const QRect&, int) {});
    QSignalSpy clicked(&rows, &RowList::rowClicked);
    rows.setRowCount(3);
    EXPECT_EQ(rows.height(), 3 * 44 - 4) << "no gap below the last row";
    rows.resize(200, rows.height());
    rows.show();
    EXPECT_EQ(rows.currentRow(), -1);
    // A press and release on a row reports the point inside it and makes it current; a release elsewhere
    // reports nothing.
    QTest::mouseClick(rows.viewport(), Qt::LeftButton, {}, rows.rowRect(2).topLeft() + QPoint(5, 6));
    ASSERT_EQ(clicked.count(), 1);
    EXPECT_EQ(clicked[0][0].toInt(), 2);
    EXPECT_EQ(clicked[0][1].toPoint(), QPoint(5, 6));
    EXPECT_EQ(rows.currentRow(), 2);
    QTest::mousePress(rows.viewport(), Qt::LeftButton, {}, rows.rowRect(0).center());
    QTest::mouseRelease(rows.viewport(), Qt::LeftButton, {}, rows.rowRect(1).center());
    EXPECT_EQ(clicked.count(), 1);
    // Fewer rows keep the current one within them; none leave none current.
    rows.setCurrentRow(2);
    rows.setRowCount(2);
    EXPECT_EQ(rows.currentRow(), 1);
    rows.setRowCount(0);
    EXPECT_EQ(rows.currentRow(), -1);
    EXPECT_EQ(rows.height(), 0);
}

// A row is as wide as the list, also after the list narrows (a row wider than the list would hide its right
// end, where the rows keep their buttons).
TEST(RowList, RowsFollowTheListsWidthBothWays) {
    RowList rows(40, 4, [](QPainter&, const QRect&, int) {});
    rows.setRowCount(3);
    for (const int width : {300, 200, 260}) {
        rows.resize(width, rows.height());
        rows.show();
        QCoreApplication::processEvents();
        EXPECT_EQ(rows.rowRect(2), QRect(0, 88, width, 40)) << width;
    }
}

TEST(ScreenControls, StepperButtonsShowAndFollowItsEnds) {
    Stepper stepper(1, 3, [](int v) { return QString("Output %1").arg(v); });
    EXPECT_EQ(stepper.text(), "Output 1");
    EXPECT_EQ(stepper.minusButton()->text(), "\u2212");
    EXPECT_FALSE(stepper.minusButton()->isEnabled());
    for (int i = 0; i < 3; ++i) stepper.plusButton()->click();
    EXPECT_EQ(stepper.value(), 3);
    EXPECT_FALSE(stepper.plusButton()->isEnabled());
    stepper.setValue(2);
    EXPECT_TRUE(stepper.minusButton()->isEnabled() && stepper.plusButton()->isEnabled());
}

}  // namespace quorvel
