// The window from the keyboard: Tab order, the focus ring, Return on every kind of control, Space as
// Stop all, the track rows; and the texts every button, action and menu shows.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QScrollArea>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>

#include "AppHarness.h"
#include "TestHome.h"
#include "UiChecks.h"
#include "app/TransportBar.h"
#include "engine/AudioController.h"
#include "engine/MicAnalyzer.h"
#include "engine/VoiceRenderer.h"
#include "kit/QVFormat.h"
#include "kit/QVFrequencyAxis.h"
#include "kit/QVStyle.h"
#include "library/LibraryStore.h"
#include "screens/AlignView.h"
#include "screens/ArraySetupView.h"
#include "screens/RowList.h"
#include "screens/ScreenControls.h"
#include "screens/TransferPlot.h"

namespace quorvel {

namespace {

bool nearAccent(const QColor& c) {
    const QColor a = QVStyle::accent();
    return std::abs(c.red() - a.red()) + std::abs(c.green() - a.green()) + std::abs(c.blue() - a.blue()) < 90;
}

}  // namespace

class KeyboardTest : public AppTest {
protected:
    QuorvelView& openActive() {
        open();
        view->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(view.get()));
        return *view;
    }
    static QWidget* focused() { return QApplication::focusWidget(); }
    void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWidget* target = QApplication::activePopupWidget();
        if (!target) target = QApplication::activeModalWidget();
        if (!target) target = focused() ? focused() : view.get();
        QTest::keyClick(target, k, mods);
        settle();
    }
    // Presses Tab until `wanted` holds for the focused control; fails after a full round.
    QWidget* tabTo(const std::function<bool(QWidget*)>& wanted) {
        for (int i = 0; i < 300; ++i) {
            key(Qt::Key_Tab);
            if (focused() && wanted(focused())) return focused();
        }
        ADD_FAILURE() << "no control found by Tab";
        return nullptr;
    }
    QWidget* tabToNamed(const QString& objectName) {
        return tabTo([&](QWidget* w) { return w->objectName() == objectName; });
    }
    QWidget* tabToText(const QString& shown) {
        return tabTo([&](QWidget* w) {
            auto* b = qobject_cast<QAbstractButton*>(w);
            return b && qvShown(b->text()) == shown;
        });
    }
    // Whether the accent ring shows around `rect` (in the window): the middle of each side, 2 px out.
    bool ringAround(QRect rect) {
        const QRect around = rect.adjusted(-2, -2, 2, 2);
        const QImage image = view->grab(around.adjusted(-1, -1, 1, 1)).toImage();
        const QPoint o = around.topLeft() - QPoint(1, 1);
        const QPoint sides[] = {{around.center().x(), around.top()},
                                {around.center().x(), around.bottom()},
                                {around.left(), around.center().y()},
                                {around.right(), around.center().y()}};
        for (QPoint p : sides)
            if (!nearAccent(image.pixelColor(p - o))) return false;
        return true;
    }
    // Imports `count` local tracks into the selected playlist.
    void addTracks(int count) {
        const QString dir = QString::fromStdString(TestHome::freshDir("tracks"));
        QStringList files;
        for (int i = 0; i < count; ++i) {
            files << dir + QStringLiteral("/track %1.wav").arg(i + 1);
            writeTone(files.last(), 1.0);
        }
        view->library().importFiles(files);
        // The copies are made in the background; the rows appear when they are in.
        ASSERT_TRUE(waitUntil([&] { return !view->library().importing(); }, 30));
        settle();
    }
};

TEST_F(KeyboardTest, TabGoesTopToBottomThroughEveryPageAndTheFocusRingShowsOnEachControl) {
    openActive();
    addTracks(2);
    for (QuorvelTool tool : QuorvelTools::allCases) {
        SCOPED_TRACE(QuorvelTools::rawValue(tool).toStdString());
        view->setTool(tool);
        settle();
        view->setFocus();
        // One round of Tab, from the header through the sidebar and the page to the transport bar.
        QList<QWidget*> round;
        for (int i = 0; i < 300; ++i) {
            key(Qt::Key_Tab);
            if (round.contains(focused())) break;
            round.append(focused());
            QWidget* w = focused();
            ASSERT_NE(w, nullptr);
            QRect rect(w->mapTo(view.get(), QPoint(0, 0)), w->size());
            if (auto* rows = qobject_cast<RowList*>(w))
                rect = QRect(rows->viewport()->mapTo(view.get(), rows->rowRect(rows->currentRow()).topLeft()),
                             rows->rowRect(rows->currentRow()).size())
                           .adjusted(3, 3, -3, -3);  // the row's own ring lies just inside it
            // Every control reached says what it is: by its name, its text or its placeholder (the track
            // rows name each row; four lists name only their entry so far).
            auto* button = qobject_cast<QAbstractButton*>(w);
            auto* field = qobject_cast<QLineEdit*>(w);
            const bool unnamedList = qobject_cast<QComboBox*>(w) &&
                                     (w->objectName().isEmpty() || w->objectName() == "interfaces" ||
                                      w->objectName().startsWith("picker"));
            EXPECT_TRUE(!w->accessibleName().isEmpty() || (button && !button->text().isEmpty()) ||
                        (field && !field->placeholderText().isEmpty()) || unnamedList ||
                        qobject_cast<RowList*>(w))
                << "unnamed " << w->metaObject()->className();
            EXPECT_TRUE(ringAround(rect))
                << w->metaObject()->className() << " " << w->objectName().toStdString();
        }
        ASSERT_GE(round.size(), 10);
        EXPECT_EQ(round[0]->accessibleName(), "User guide");
        EXPECT_EQ(qvShown(qobject_cast<QAbstractButton*>(round[1])->text()), "Stop all");
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(
                round[2 + i]->objectName(),
                QStringLiteral("sidebar-") + QuorvelTools::rawValue(QuorvelTools::allCases[std::size_t(i)]));
        // Within the page, and from the page to the transport bar: never back up the window. A control
        // later in the order never lies wholly above an earlier one (the page scrolls, so positions are
        // taken in the page's column).
        int previousTop = -1;
        bool inTransport = false;
        for (qsizetype i = 9; i < round.size(); ++i) {
            QWidget* w = round[i];
            const bool transport = view->transport()->isAncestorOf(w);
            EXPECT_FALSE(inTransport && !transport) << "page control after the transport bar";
            inTransport = transport;
            if (transport) continue;
            QWidget* origin = view->currentPage();
            for (QWidget* p = w->parentWidget(); p && p != view.get(); p = p->parentWidget())
                if (auto* area = qobject_cast<QScrollArea*>(p)) {
                    origin = area->widget();
                    break;
                }
            const QRect r(w->mapTo(origin, QPoint(0, 0)), w->size());
            EXPECT_GE(r.bottom(), previousTop) << w->objectName().toStdString();
            previousTop = r.top();
        }
        EXPECT_TRUE(inTransport) << "the transport bar ends the round";
    }
}

// The ring is for the keyboard: a mouse press hides it, and a click that changes the page (which moves the
// focus out of the page that goes) does not bring it back; the next key does.
TEST_F(KeyboardTest, AfterAMousePressTheRingComesBackOnlyWithAKey) {
    openActive();
    const auto ringShown = [&] {
        for (QWidget* ring : view->findChildren<QWidget*>("qvFocusRing"))
            if (ring->isVisible()) return true;
        return false;
    };
    view->setTool(QuorvelTool::measure);
    settle();
    tabToNamed("startStop");
    EXPECT_TRUE(ringShown());
    QTest::mouseClick(view->currentPage()->findChild<QWidget*>("qvPageTitle"), Qt::LeftButton);
    settle();
    EXPECT_FALSE(ringShown());
    QTest::mouseClick(view->findChild<QAbstractButton*>("sidebar-signals"), Qt::LeftButton);
    settle();
    ASSERT_EQ(view->tool(), QuorvelTool::signals_);
    EXPECT_FALSE(ringShown()) << "on " << focused()->metaObject()->className();
    savePng("ring-after-sidebar-click");
    key(Qt::Key_Tab);
    EXPECT_TRUE(ringShown());
    // A key that moves nothing, and later a page change that no key made: still no ring.
    tabToNamed("play");
    QTest::mouseClick(view->currentPage()->findChild<QWidget*>("qvPageTitle"), Qt::LeftButton);
    key(Qt::Key_Shift);
    view->setTool(QuorvelTool::measure);
    settle();
    EXPECT_FALSE(ringShown()) << "on " << focused()->metaObject()->className();
}

TEST_F(KeyboardTest, ReturnPressesTheFocusedButtonSegmentCardOrCheckBoxButNotATextField) {
    openActive();
    // A sidebar row.
    tabToNamed("sidebar-arrays");
    key(Qt::Key_Return);
    EXPECT_EQ(view->tool(), QuorvelTool::arrays);
    // A segment, and a checklist step (the "30 rounds of Tab and Return change nothing").
    auto* arrays = qobject_cast<ArraySetupView*>(view->currentPage());
    ASSERT_NE(arrays, nullptr);
    tabToText("Cardioid pair");
    key(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(arrays->kind(), "Gradient");
    // A collapsed group opens with Return; its first step then ticks with Return.
    auto* verify = arrays->findChild<Disclosure*>("verify");
    tabTo([&](QWidget* w) { return w == verify->header(); });
    key(Qt::Key_Return);
    EXPECT_TRUE(verify->expanded());
    tabToText("Match presets, gains & patch");
    key(Qt::Key_Return);
    EXPECT_EQ(arrays->steps(), (std::set<int>{0}));
    // A check box and a drop-down list on the Measure page.
    view->setTool(QuorvelTool::measure);
    settle();
    tabToNamed("referenceSwitch");
    key(Qt::Key_Return);
    EXPECT_TRUE(view->analyzer().dual());
    auto* interfaces = qobject_cast<QComboBox*>(tabToNamed("interfaces"));
    ASSERT_NE(interfaces, nullptr);
    key(Qt::Key_Return);
    EXPECT_TRUE(interfaces->view()->isVisible());
    key(Qt::Key_Escape);
    // A card of the Tools hub.
    view->setTool(QuorvelTool::tools);
    settle();
    tabToNamed("hubLink-align");
    key(Qt::Key_Return);
    EXPECT_NE(view->currentPage()->findChild<AlignView*>(), nullptr);
    // A text field keeps its Return: the speak button below it is not pressed.
    view->setTool(QuorvelTool::checks);
    settle();
    tabToNamed("sourceField");
    key(Qt::Key_Return);
    EXPECT_EQ(focused()->objectName(), "sourceField");
    EXPECT_FALSE(view->voice().working());
    // Space stays Stop all, also over a focused button, which it does not press.
    tabToNamed("left");
    key(Qt::Key_Return);
    EXPECT_EQ(view->audio().route(), AudioController::Route::left);
    ASSERT_TRUE(waitUntil([&] { return view->audio().playing(); }));
    key(Qt::Key_Space);
    EXPECT_FALSE(view->audio().playing());
    settle();
    EXPECT_FALSE(view->audio().busy()) << "the focused button was not pressed";
}

TEST_F(KeyboardTest, ReturnOpensAMenuButtonsMenuAndPressesTheChosenEntry) {
    openActive();
    tabTo([](QWidget* w) {
        auto* b = qobject_cast<QAbstractButton*>(w);
        return b && qvShown(b->text()) == "Add";
    });
    // The menu runs its own loop: the keys reach it from inside.
    QTimer::singleShot(0, view.get(), [this] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (QAction* a : menu->actions())
            if (qvShown(a->text()) == "New playlist") menu->setActiveAction(a);
        key(Qt::Key_Return);
    });
    key(Qt::Key_Return);
    settle();
    auto* alert = view->findChild<QDialog*>("newPlaylist");
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    // The box is as wide as its title needs and its field is framed (checked for contrast in the kit).
    EXPECT_GE(alert->width(), 2 * alert->fontMetrics().horizontalAdvance(alert->windowTitle()));
    savePicture(alert, "new-playlist");
    QTest::keyClicks(alert->findChild<QLineEdit*>(), "Doors");
    QTest::keyClick(alert->findChild<QLineEdit*>(), Qt::Key_Return);
    settle();
    EXPECT_EQ(view->library().playlists().back().name, "Doors");
}

TEST_F(KeyboardTest, TrackRowsTakeFocusMoveWithTheArrowsPlayWithReturnAndOpenTheirMenu) {
    openActive();
    addTracks(3);
    auto* rows = qobject_cast<RowList*>(tabToNamed("tracks"));
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->currentRow(), 0);
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    EXPECT_EQ(rows->currentRow(), 2) << "stays on the last row";
    key(Qt::Key_Up);
    EXPECT_EQ(rows->currentRow(), 1);
    savePng("focused-row");
    // Return is the row's play button (whose pause and resume PlayerTest walks).
    key(Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return view->audio().playing(); }));
    EXPECT_EQ(view->audio().selectedTrackID(), view->library().playlists()[0].tracks[1].id);
    // The menu key opens the row's menu, whose entries the keyboard then runs.
    bool opened = false;
    QTimer::singleShot(0, view.get(), [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        opened = true;
        EXPECT_EQ(qvShown(menu->actions()[0]->text()), "Cue, loop & trim");
        key(Qt::Key_Escape);
    });
    key(Qt::Key_Menu);
    EXPECT_TRUE(opened);
}

TEST_F(KeyboardTest, EveryButtonActionAndMenuOfTheWindowShowsItsTextWithItsAmpersands) {
    openActive();
    addTracks(1);
    // A text is shown as set when each of its ampersands is doubled; a lone one marks a shortcut key.
    QStringList shown, faults;
    const auto read = [&](QWidget* root) {
        QStringList texts;
        for (QAbstractButton* b : root->findChildren<QAbstractButton*>()) texts << b->text();
        for (QMenu* menu : root->findChildren<QMenu*>())
            for (QAction* a : menu->actions()) texts << a->text();
        for (const QString& t : texts) {
            shown << qvShown(t);
            if (qvLiteral(qvShown(t)) != t) faults << t;
        }
    };
    const QStringList warnings = warningsDuring([&] {
        for (QuorvelTool tool : QuorvelTools::allCases) {
            view->setTool(tool);
            settle();
            read(view.get());
        }
        // The track row's menu, as the menu key opens it.
        view->setTool(QuorvelTool::player);
        settle();
        tabToNamed("tracks");
        QTimer::singleShot(0, view.get(), [&] {
            read(view.get());
            key(Qt::Key_Escape);
        });
        key(Qt::Key_Menu);
    });
    EXPECT_EQ(faults, QStringList{});
    for (const char* text : {"Cue, loop & trim", "Filters & timing", "Temperature & patch",
                             "Match presets, gains & patch", "Apply starting delay & polarity"})
        EXPECT_TRUE(shown.contains(text)) << text;
    EXPECT_EQ(warnings.filter("symbol"), QStringList{}) << "every symbol named is in the table";
}

TEST_F(KeyboardTest, AlignmentPlotCarriesTheScaleOfItsFieldAndTheFrequencyRow) {
    open();
    view->setTool(QuorvelTool::align);
    settle();
    auto* page = qobject_cast<AlignView*>(view->currentPage());
    ASSERT_NE(page, nullptr);
    auto* plot = page->findChild<TransferPlot*>();
    auto* axis = page->findChild<QVFrequencyAxis*>();
    ASSERT_NE(axis, nullptr);
    EXPECT_EQ(axis->width(), plot->width());
    EXPECT_GT(axis->y(), plot->geometry().bottom());
    EXPECT_LT(axis->y(), plot->geometry().bottom() + 20) << "directly under the plot";
    // The scale follows the field: its top and bottom labels.
    const struct {
        TransferField field;
        const char *top, *bottom;
    } fields[] = {{TransferField::magnitude, "+36 dB", "\u221236"},
                  {TransferField::phase, "+180\u00b0", "\u2212180\u00b0"},
                  {TransferField::coherence, "1", "0"}};
    for (const auto& f : fields) {
        page->setField(f.field);
        const QVPlotGrid::Scale& scale = TransferPlot::scale(plot->field());
        EXPECT_EQ(scale.front(), QString::fromUtf8(f.top));
        EXPECT_EQ(scale.back(), QString::fromUtf8(f.bottom));
    }
    page->setField(TransferField::phase);
    savePng("alignment-scale");
}

}  // namespace quorvel
