// A failure that ends the capture or the routed generator, seen from the page in use: its reason stays
// until the next start or Stop all, on Measure in the visible top of the page, without scrolling, and on
// Signals once, in the status line under the channel routing.
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "AppHarness.h"
#include "engine/MicAnalyzer.h"
#include "engine/RoutedSignal.h"
#include "kit/QVAction.h"
#include "screens/ScreenControls.h"

namespace quorvel {

namespace {

class FailureTest : public AppTest {
protected:
    // The window at `size` on `tool`'s page.
    void openAt(QSize size, QuorvelTool tool) {
        open();
        view->resize(size);
        view->setTool(tool);
        settle();
    }
    // Whether a label of the current page shows exactly `text` within the page's visible part, the page
    // scrolled to its top.
    bool inView(const QString& text) {
        auto* page = qobject_cast<QScrollArea*>(view->currentPage());
        if (!page || page->verticalScrollBar()->value() != 0) return false;
        const QRect visible = page->viewport()->rect();
        for (QLabel* label : page->findChildren<QLabel*>())
            if (label->isVisibleTo(view.get()) && label->text() == text &&
                visible.contains(QRect(label->mapTo(page->viewport(), QPoint(0, 0)), label->size())))
                return true;
        return false;
    }
    // The names of the current page's shown labels that read exactly `text`.
    QStringList shownIn(const QString& text) {
        QStringList names;
        for (QLabel* label : view->currentPage()->findChildren<QLabel*>())
            if (label->isVisibleTo(view.get()) && label->text() == text) names << label->objectName();
        return names;
    }
    template <typename T>
    T* onPage(const char* name) {
        T* w = view->currentPage()->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void startMic() {
        QTest::mouseClick(onPage<QAbstractButton>("startStop"), Qt::LeftButton);
        settle();
    }
    void playRouted() {
        onPage<QVAction>("play")->click();
        ASSERT_TRUE(waitUntil([&] { return !view->routed().busy(); }));
    }
};

const QSize kSizes[] = {{QuorvelView::kMinWidth, QuorvelView::kMinHeight},
                        {QuorvelView::kDefaultWidth, QuorvelView::kDefaultHeight}};

}  // namespace

TEST_F(FailureTest, MeasureKeepsTheReasonACaptureEndedInViewUntilTheNextStartOrStopAll) {
    for (QSize size : kSizes) {
        SCOPED_TRACE(size.width());
        openAt(size, QuorvelTool::measure);
        MicAnalyzer& analyzer = view->analyzer();
        startMic();
        ASSERT_TRUE(waitUntil([&] { return analyzer.running(); })) << analyzer.status().toStdString();
        EXPECT_FALSE(onPage<QLabel>("captureFailure")->isVisibleTo(view.get())) << "running is no failure";
        audio->failRunningEngines("The JACK server stopped");
        ASSERT_TRUE(waitUntil([&] { return !analyzer.running(); }));
        settle();
        EXPECT_EQ(analyzer.status(), "The JACK server stopped");
        EXPECT_TRUE(inView("The JACK server stopped"));
        if (size.width() == QuorvelView::kMinWidth) savePng("failure-measure");
        view->stopAll();
        settle();
        EXPECT_FALSE(inView("The JACK server stopped"));

        // A start that fails says why in the same place; the next start that works takes it away.
        analyzer.setDual(true);
        analyzer.setReferenceChannel(analyzer.micChannel());
        startMic();
        ASSERT_TRUE(waitUntil([&] { return analyzer.status() != MicAnalyzer::statusOff; }));
        EXPECT_TRUE(inView(MicAnalyzer::statusSameChannel));
        if (size.width() == QuorvelView::kMinWidth) savePng("failure-measure-channels");
        analyzer.setDual(false);
        startMic();
        ASSERT_TRUE(waitUntil([&] { return analyzer.running(); }));
        EXPECT_FALSE(inView(MicAnalyzer::statusSameChannel));
        view->stopAll();
        view.reset();
    }
}

TEST_F(FailureTest, SignalsKeepsTheReasonTheRoutedGeneratorEndedUnderTheRoutingUntilTheNextStartOrStopAll) {
    for (QSize size : kSizes) {
        SCOPED_TRACE(size.width());
        openAt(size, QuorvelTool::signals_);
        view->setInterfaceMode(true);
        settle();
        RoutedSignal& routed = view->routed();
        playRouted();
        ASSERT_TRUE(routed.isPlaying()) << routed.status().toStdString();
        audio->failRunningEngines("The JACK server stopped");
        ASSERT_TRUE(waitUntil([&] { return !routed.isPlaying(); }));
        settle();
        EXPECT_EQ(routed.status(), "The JACK server stopped");
        EXPECT_EQ(shownIn("The JACK server stopped"), QStringList{"routedStatus"});
        if (size.width() == QuorvelView::kMinWidth) savePng("failure-signals");
        view->stopAll();
        settle();
        EXPECT_EQ(shownIn("The JACK server stopped"), QStringList{});

        // A routing the interface cannot take is refused in the same place until a play that works.
        routed.setChannelA(9);
        playRouted();
        settle();
        EXPECT_EQ(shownIn("Choose distinct, available speaker outputs"), QStringList{"routedStatus"});
        routed.setChannelA(1);
        playRouted();
        ASSERT_TRUE(routed.isPlaying());
        EXPECT_EQ(shownIn("Choose distinct, available speaker outputs"), QStringList{});
        view->stopAll();
        view.reset();
    }
}

}  // namespace quorvel
