// The sheets' frame: the bar above the page and the focus ring inside a sheet.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <memory>

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
// first focus as if Tab had moved it) and also for a keyboard user; its bar stands clear of the top edge
// and of the page, so the ring that Tab draws around "Cancel" lies whole inside the sheet.
TEST(SheetFrame, TheBarIsPaddedAndNoRingIsDrawnOnTheSheetsFrame) {
    useWorkspaceStyle();
    ReferenceTrack track;
    track.title = QStringLiteral("Vocal Check");
    const auto open = [&] {
        auto sheet = std::make_unique<TrackSettingsEditor>(track, [](const ReferenceTrack&) {});
        sheet->resize(420, 420);
        sheet->show();
        QApplication::setActiveWindow(sheet.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(sheet.get()));
        settle();
        return sheet;
    };
    auto sheet = open();
    EXPECT_EQ(shownRing(sheet.get()), QRect()) << "by the mouse";

    QPushButton* cancel = button(sheet.get(), "Cancel");
    ASSERT_NE(cancel, nullptr);
    const QRect bar(cancel->mapTo(sheet.get(), QPoint(0, 0)), cancel->size());
    const int pageTop = sheet->page()->mapTo(sheet.get(), QPoint(0, 0)).y();
    EXPECT_GE(bar.top(), 8);
    EXPECT_GE(pageTop - bar.bottom(), 4);
    EXPECT_GE(bar.left(), 12);

    cancel->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(cancel, Qt::Key_Tab, Qt::ShiftModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    settle();
    ASSERT_EQ(QApplication::focusWidget(), cancel);
    const QRect ring = shownRing(sheet.get());
    EXPECT_TRUE(ring.contains(bar)) << "the ring goes around Cancel";
    EXPECT_TRUE(sheet->rect().contains(ring)) << "and is not cut by the sheet's edge";
    savePng(sheet.get(), "sheet-cue-loop-ring.png", {420, 420});
    sheet.reset();

    // The keyboard user opens the sheet again: its page takes the focus, and no ring runs along its frame.
    sheet = open();
    EXPECT_TRUE(sheet->page()->isAncestorOf(QApplication::focusWidget()) ||
                QApplication::focusWidget() == sheet->page());
    EXPECT_EQ(shownRing(sheet.get()), QRect()) << "by the keyboard";
    savePng(sheet.get(), "sheet-cue-loop.png", {420, 420});
}

}  // namespace quorvel
