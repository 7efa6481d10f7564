// The window's frame: the sidebar and its pages, the Tools hub, the guide button and the file importer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

#include "AppHarness.h"
#include "TestHome.h"
#include "WindowInput.h"
#include "app/QuorvelApp.h"
#include "app/TransportBar.h"
#include "app/UserGuideView.h"
#include "kit/QVAction.h"
#include "kit/QVPage.h"
#include "library/LibraryStore.h"
#include "screens/AlignView.h"
#include "screens/AnalyzerView.h"
#include "screens/ScreenControls.h"
#include "screens/SignalLabView.h"

namespace quorvel {

namespace {

QAbstractButton* sidebarRow(QuorvelView& view, QuorvelTool tool) {
    return view.findChild<QAbstractButton*>(QStringLiteral("sidebar-") + QuorvelTools::rawValue(tool));
}

void click(QWidget* page, const char* name) {
    QTest::mouseClick(page->findChild<QAbstractButton*>(name), Qt::LeftButton);
    AppTest::settle();
}

}  // namespace

TEST_F(AppTest, FirstLaunchOpensThePlayerWithTheDefaultPlaylistAtTheSmallestSize) {
    open();
    EXPECT_EQ(view->tool(), QuorvelTool::player);
    ASSERT_EQ(view->library().playlists().size(), 1);
    EXPECT_EQ(view->library().playlists()[0].name, "My Quorvel");
    EXPECT_EQ(audio->runningEngines(), 0) << "nothing plays or captures at start";
    EXPECT_FALSE(view->importing() || view->showingGuide() || view->showingError() || view->interfaceMode());
    view->resize(500, 400);
    settle();
    EXPECT_GE(view->width(), 840);
    EXPECT_GE(view->height(), 680);
}

// The window opens at its default size where the screen has room for it, and within the screen's
// available area where it has not (a 2560 × 1440 display at scale 2 offers 1280 × 720 points, less its
// panel), never below the smallest size.
TEST_F(AppTest, TheFirstWindowSizeFitsTheScreensAvailableArea) {
    const QSize fullSize(QuorvelView::kDefaultWidth, QuorvelView::kDefaultHeight);
    EXPECT_EQ(QuorvelApp::firstWindowSize(QRect(0, 0, 1920, 1050)), fullSize);
    const QRect scaled(0, 32, 1280, 688);
    const QSize first = QuorvelApp::firstWindowSize(scaled);
    EXPECT_EQ(first, QSize(QuorvelView::kDefaultWidth, QuorvelView::kMinHeight));
    const QSize roomy = QuorvelApp::firstWindowSize(QRect(0, 0, 1280, 768));
    EXPECT_EQ(roomy.width(), QuorvelView::kDefaultWidth);
    EXPECT_GT(roomy.height(), QuorvelView::kMinHeight);
    EXPECT_LT(roomy.height(), 768);
    EXPECT_EQ(QuorvelApp::firstWindowSize(QRect(0, 0, 800, 600)),
              QSize(QuorvelView::kMinWidth, QuorvelView::kMinHeight));

    // The window at that size on that screen, the rest of the screen in grey.
    open();
    view->resize(first);
    settle();
    QImage screen(scaled.size(), QImage::Format_RGB32);
    screen.fill(QColor(90, 90, 90));
    QPainter painter(&screen);
    painter.drawPixmap(0, 0, view->grab());
    painter.end();
    EXPECT_TRUE(screen.save(QStringLiteral(QUORVEL_TEST_OUTPUT_DIR "/first-size-1280x688.png")));
}

TEST_F(AppTest, EachToolGetsAFreshPageWhileTheSameModelsStay) {
    open();
    LibraryStore* library = &view->library();
    QPointer<QWidget> playerPage = view->currentPage();
    // Choosing the selected tool again changes nothing.
    QTest::mouseClick(sidebarRow(*view, QuorvelTool::player), Qt::LeftButton);
    settle();
    EXPECT_EQ(view->currentPage(), playerPage.data());

    for (QuorvelTool tool : QuorvelTools::allCases) {
        QTest::mouseClick(sidebarRow(*view, tool), Qt::LeftButton);
        settle();
        SCOPED_TRACE(QuorvelTools::rawValue(tool).toStdString());
        EXPECT_EQ(view->tool(), tool);
        EXPECT_EQ(view->currentPage()->property("quorvelTool").toString(), QuorvelTools::rawValue(tool));
        for (QuorvelTool other : QuorvelTools::allCases)
            EXPECT_EQ(sidebarRow(*view, other)->isChecked(), other == tool);
        EXPECT_EQ(sidebarRow(*view, tool)->accessibleName(), QuorvelTools::title(tool));
        // The transport bar stays under every page.
        EXPECT_TRUE(view->transport()->isVisible());
        EXPECT_GE(view->transport()->geometry().top(), view->currentPage()->geometry().bottom());
        savePng(QStringLiteral("window-") + QuorvelTools::rawValue(tool));
    }
    EXPECT_TRUE(playerPage.isNull()) << "the page that was left is discarded";
    EXPECT_EQ(&view->library(), library);
}

// A click on a tool, from the running event loop as a user's, paints the new page once: it shows in the
// same pass of the loop that paints it, and the old page goes in that pass too.
TEST_F(AppTest, AToolsNewPageIsPaintedOnce) {
    open();
    struct Paints : QObject {
        QHash<QObject*, int> count;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint) ++count[watched];
            return false;
        }
    } paints;
    qApp->installEventFilter(&paints);
    QTimer::singleShot(0, view.get(),
                       [&] { QTest::mouseClick(sidebarRow(*view, QuorvelTool::measure), Qt::LeftButton); });
    const auto title = [&] { return view->currentPage()->findChild<QLabel*>("qvPageTitle"); };
    ASSERT_TRUE(
        waitUntil([&] { return view->tool() == QuorvelTool::measure && paints.count.value(title()); }));
    settle();
    qApp->removeEventFilter(&paints);
    EXPECT_EQ(paints.count.value(title()), 1);
}

TEST_F(AppTest, ToolsHubPushesItsScreensAndComesBackAndAlignmentOpensTheMeasurePage) {
    open();
    view->setTool(QuorvelTool::tools);
    settle();
    auto* hub = qobject_cast<QStackedWidget*>(view->currentPage());
    if (!hub) hub = view->currentPage()->findChild<QStackedWidget*>("toolsHub");
    ASSERT_NE(hub, nullptr);
    auto* root = qobject_cast<QVPage*>(hub->currentWidget());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->title(), "Tools");

    for (QuorvelTool tool : {QuorvelTool::checks, QuorvelTool::align, QuorvelTool::arrays}) {
        SCOPED_TRACE(QuorvelTools::rawValue(tool).toStdString());
        auto* link =
            hub->findChild<QAbstractButton*>(QStringLiteral("hubLink-") + QuorvelTools::rawValue(tool));
        ASSERT_NE(link, nullptr);

        QTest::mouseClick(link, Qt::LeftButton);
        settle();
        QPointer<QWidget> pushed = hub->currentWidget();
        ASSERT_NE(pushed, root);
        EXPECT_EQ(pushed->property("quorvelTool").toString(), QuorvelTools::rawValue(tool));
        EXPECT_EQ(pushed->findChild<QLabel*>("hubTitle")->text(), QuorvelTools::title(tool));
        EXPECT_EQ(view->tool(), QuorvelTool::tools) << "the sidebar still shows Tools";
        if (tool == QuorvelTool::align) savePng("window-tools-alignment");
        click(pushed, "hubBack");
        EXPECT_EQ(hub->currentWidget(), root);
        EXPECT_TRUE(pushed.isNull());
    }
    // Alignment's way to set up a measurement opens the Measure page, from the hub as from the sidebar.
    click(hub, "hubLink-align");
    click(hub->currentWidget(), "setUp");
    EXPECT_EQ(view->tool(), QuorvelTool::measure);
    EXPECT_NE(qobject_cast<AnalyzerView*>(view->currentPage()), nullptr);
    EXPECT_TRUE(sidebarRow(*view, QuorvelTool::measure)->isChecked());
    view->setTool(QuorvelTool::align);
    click(view->currentPage(), "setUp");
    EXPECT_EQ(view->tool(), QuorvelTool::measure);
}

TEST_F(AppTest, GuideButtonOpensTheGuideSheetAndClosingClearsTheFlag) {
    open();
    QAbstractButton* guideButton = nullptr;
    for (QAbstractButton* b : view->findChildren<QAbstractButton*>())
        if (b->accessibleName() == "User guide") guideButton = b;
    ASSERT_NE(guideButton, nullptr);
    QTest::mouseClick(guideButton, Qt::LeftButton);
    settle();
    EXPECT_TRUE(view->showingGuide());
    QPointer<UserGuideView> guide = view->findChild<UserGuideView*>();
    ASSERT_TRUE(guide);
    EXPECT_TRUE(guide->isVisible() && guide->isModal());
    guide->reject();
    settle();
    EXPECT_FALSE(view->showingGuide());
}

TEST_F(AppTest, ImporterHandsEveryChosenFileToTheLibraryInOneCallInOrder) {
    open();
    const QString dir = QString::fromStdString(TestHome::freshDir("import"));
    QStringList chosen;
    for (const char* name : {"kick.wav", "vocal.wav", "band.wav"}) {
        chosen << dir + "/" + name;
        writeTone(chosen.last());
    }
    QFile list(dir + "/set.m3u8");
    ASSERT_TRUE(list.open(QIODevice::WriteOnly) && list.write((chosen[0] + "\n").toUtf8()) > 0);
    list.close();
    chosen << list.fileName();

    int calls = 0;
    view->setFileChooser([&](QWidget* parent) -> Result<QStringList> {
        ++calls;
        EXPECT_EQ(parent, view.get());
        return chosen;
    });
    view->setImporting(true);
    EXPECT_TRUE(view->importing());
    settle();
    ASSERT_TRUE(waitUntil([&] { return !view->library().importing(); }));
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(view->importing());
    EXPECT_EQ(view->library().message(), "Import complete");
    QStringList titles;
    for (const ReferenceTrack& t : view->library().playlists()[0].tracks) titles << t.title;
    EXPECT_EQ(titles, (QStringList{"kick", "vocal", "band", "kick"}));
    // Cancelling changes nothing; a failing chooser reports its own description, unprefixed.
    view->setFileChooser([](QWidget*) -> Result<QStringList> { return QStringList{}; });
    view->setImporting(true);
    settle();
    EXPECT_EQ(view->library().playlists()[0].tracks.size(), 4);
    view->setFileChooser([](QWidget*) -> Result<QStringList> {
        return Error{"posix", 13, "The chosen files could not be opened."};
    });
    view->setImporting(true);
    settle();
    EXPECT_FALSE(view->importing());
    EXPECT_EQ(view->library().message(), "The chosen files could not be opened.");

    const QString filter = QuorvelView::importFilters().value(0);
    for (const char* ext : {"*.wav ", "*.flac ", "*.mp3 ", "*.aiff ", "*.caf ", "*.m3u ", "*.m3u8 "})
        EXPECT_TRUE(filter.contains(ext)) << ext;
}

// A window where the Player page fits. Its "Import audio files" button opens a dialog, where the user picks a
// file and presses Open; the import's progress line then comes above the button, and the track then takes
// the empty page's place. The page stays at its top throughout, with no scroll bar and no blank room.
TEST_F(AppTest, AnImportLeavesAPlayerPageThatFitsAtItsTop) {
    open();
    view->resize(1280, 800);
    settle();
    const QString file = QString::fromStdString(TestHome::freshDir("import")) + "/kick.wav";
    writeTone(file);
    view->setFileChooser([&](QWidget* parent) -> Result<QStringList> {
        QDialog dialog(parent);
        auto* open = new QPushButton(QStringLiteral("Open"), &dialog);
        dialog.resize(300, 200);
        QObject::connect(open, &QPushButton::clicked, &dialog, &QDialog::accept);
        QTimer::singleShot(0, &dialog, [&] {
            WindowInput::click(&dialog, open->mapToGlobal(open->rect().center()), WindowInput::freshTime());
        });
        if (dialog.exec() != QDialog::Accepted) return QStringList{};
        return QStringList{file};
    });
    auto* page = qobject_cast<QVPage*>(view->currentPage());
    ASSERT_NE(page, nullptr);
    QVAction* import = nullptr;
    for (QVAction* action : page->findChildren<QVAction*>())
        if (action->title() == "Import audio files") import = action;
    ASSERT_NE(import, nullptr);
    QScrollBar* bar = page->verticalScrollBar();
    ASSERT_EQ(bar->maximum(), 0) << "the page fits";
    // A file takes longer to copy than the page takes to lay out its progress line: the page is laid out,
    // and what it queued for itself done, before the import's result comes.
    std::optional<int> whileCopying;
    QObject::connect(&view->library(), &LibraryStore::messageChanged, page, [&] {
        if (!view->library().message().startsWith("Importing")) return;
        for (int pass = 0; pass < 10; ++pass) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            QCoreApplication::sendPostedEvents(page, QEvent::MetaCall);
        }
        whileCopying = bar->value();
    });

    WindowInput::click(page, import->mapToGlobal(import->rect().center()), WindowInput::freshTime());
    ASSERT_TRUE(waitUntil([&] { return view->library().message() == "Import complete"; }));
    settle();
    EXPECT_EQ(whileCopying, 0);
    EXPECT_FALSE(import->isVisible());
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(bar->maximum(), 0);
}

TEST_F(AppTest, SignalsPageEditsTheWindowsSettingsAndPathWhichOutliveThePage) {
    open();
    view->setTool(QuorvelTool::signals_);
    auto* page = qobject_cast<SignalLabView*>(view->currentPage());
    ASSERT_NE(page, nullptr);
    page->findChild<SegmentedPicker*>("family")->segment("Tone")->click();
    page->findChild<SegmentedPicker*>("output")->segment("Interface")->click();
    EXPECT_EQ(view->signal().kind, SignalKind::sine);
    EXPECT_TRUE(view->interfaceMode());
    // A fresh page starts at Noise but keeps the window's settings and path.
    view->setTool(QuorvelTool::checks);
    view->setTool(QuorvelTool::signals_);
    page = qobject_cast<SignalLabView*>(view->currentPage());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->family(), SignalFamily::noise);
    EXPECT_EQ(view->signal().kind, SignalKind::sine);
    EXPECT_TRUE(page->findChild<SegmentedPicker*>("output")->segment("Interface")->isChecked());
}

}  // namespace quorvel
