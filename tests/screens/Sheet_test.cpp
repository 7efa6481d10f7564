// The sheets' frame: the bar above the page and the focus ring inside a sheet.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "ScreenTesting.h"
#include "kit/QVPage.h"
#include "screens/TrackSettingsEditor.h"

namespace quorvel {

using namespace ScreenTesting;

namespace {

// The focus ring of `window` while it shows, in the window's coordinates; empty when none shows.
QRect shownRing(QWidget* window) {
    for (QWidget* ring : window->findChildren<QWidget*>(QStringLiteral("qvFocusRing")))
        if (ring->isVisible()) return ring->geometry();
    return {};
}

QPushButton* button(QWidget* root, const QString& text) {
    for (QPushButton* b : root->findChildren<QPushButton*>())
        if (b->text() == text) return b;
    ADD_FAILURE() << "no button " << text.toStdString();
    return nullptr;
}

}  // namespace

// A sheet opens with nothing ringed, also when the page it holds has the focus (a dialog announces its
// first focus as if Tab had moved it); its bar stands clear of the top edge and of the page, so the ring
// that Tab then draws around "Cancel" lies whole inside the sheet.
TEST(SheetFrame, TheBarIsPaddedAndNoRingIsDrawnOnTheSheetsFrame) {
    useWorkspaceStyle();
    ReferenceTrack track;
    track.title = QStringLiteral("Vocal Check");
    TrackSettingsEditor sheet(track, [](const ReferenceTrack&) {});
    savePng(&sheet, "sheet-cue-loop.png", {420, 420});
    QApplication::setActiveWindow(&sheet);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
    settle();
    EXPECT_EQ(shownRing(&sheet), QRect())
        << "ringed: " << QApplication::focusWidget()->metaObject()->className();

    QPushButton* cancel = button(&sheet, "Cancel");
    ASSERT_NE(cancel, nullptr);
    const QRect bar(cancel->mapTo(&sheet, QPoint(0, 0)), cancel->size());
    const int pageTop = sheet.page()->mapTo(&sheet, QPoint(0, 0)).y();
    EXPECT_GE(bar.top(), 8);
    EXPECT_GE(pageTop - bar.bottom(), 4);
    EXPECT_GE(bar.left(), 12);

    cancel->setFocus(Qt::TabFocusReason);
    QTest::keyClick(cancel, Qt::Key_Tab, Qt::ShiftModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    settle();
    ASSERT_EQ(QApplication::focusWidget(), cancel);
    const QRect ring = shownRing(&sheet);
    EXPECT_TRUE(ring.contains(bar)) << "the ring goes around Cancel";
    EXPECT_TRUE(sheet.rect().contains(ring)) << "and is not cut by the sheet's edge";
    savePng(&sheet, "sheet-cue-loop-ring.png", {420, 420});
}

}  // namespace quorvel
