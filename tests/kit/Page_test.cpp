// A page keeps the control the user pressed where it is on screen while its content changes height.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include "QtPrinting.h"
#include "kit/QVPage.h"
#include "kit/QVStyle.h"

namespace quorvel {

namespace {

// A change deep in a page reaches it one layout at a time.
void settle() {
    for (int pass = 0; pass < 10; ++pass) QCoreApplication::processEvents();
}

QWidget* block(int height) {
    auto* w = new QWidget;
    w->setFixedHeight(height);
    return w;
}

QPoint middle(const QWidget* w) { return w->mapToGlobal(w->rect().center()); }

// The widths a widget is given, in order.
struct Widths : QObject {
    QList<int> seen;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize) seen << static_cast<QResizeEvent*>(event)->size().width();
        return false;
    }
};

}  // namespace

TEST(QVPage, AClickThatShortensThePageAtItsEndLeavesTheControlAndTheRoomGoesAsTheUserScrollsUp) {
    QVPage page(QStringLiteral("Page"));
    auto* hide = new QPushButton(QStringLiteral("Hide"));
    QWidget* below = block(100);
    page.add(block(600));
    page.add(hide);
    page.add(below);
    QObject::connect(hide, &QPushButton::clicked, below, &QWidget::hide);
    page.resize(400, 300);
    page.show();
    settle();
    QScrollBar* bar = page.verticalScrollBar();
    bar->setValue(bar->maximum());
    settle();

    const QPoint at = middle(hide);
    const int end = bar->value();
    QTest::mouseClick(hide, Qt::LeftButton);
    settle();
    ASSERT_TRUE(below->isHidden());
    EXPECT_EQ(middle(hide), at);
    EXPECT_EQ(bar->value(), end);
    // The block and its spacing are blank room now; scrolling up takes it away, and none comes back.
    bar->setValue(end - 50);
    settle();
    EXPECT_EQ(bar->maximum(), end - 50);
    bar->setValue(0);
    settle();
    EXPECT_EQ(bar->maximum(), end - 100 - QVPage::kSpacing);
}

TEST(QVPage, ABlockShownAboveTheControlScrollsThePageUntilANewWindowHeightLetsGo) {
    QVPage page(QStringLiteral("Page"));
    QWidget* above = block(100);
    auto* show = new QPushButton(QStringLiteral("Show"));
    above->hide();
    page.add(above);
    page.add(show);
    QObject::connect(show, &QPushButton::clicked, above, &QWidget::show);
    page.resize(400, 500);
    page.show();
    settle();
    QScrollBar* bar = page.verticalScrollBar();
    ASSERT_EQ(bar->maximum(), 0) << "the page fits";

    const QPoint at = middle(show);
    QTest::mouseClick(show, Qt::LeftButton);
    settle();
    EXPECT_EQ(middle(show), at);
    EXPECT_EQ(bar->value(), 100 + QVPage::kSpacing);
    page.resize(400, 520);
    settle();
    EXPECT_EQ(bar->maximum(), 0);
}

// The scroll bar a click brings takes no width from the blocks: a control at their right edge stays where
// it was, in a narrow window and in one wider than the column, and when the bar goes again.
TEST(QVPage, TheScrollBarComingAndGoingMovesNoControl) {
    QVStyle::apply();
    for (const int width : {400, QVPage::kMaxWidth + 300}) {
        SCOPED_TRACE(width);
        QVPage page(QStringLiteral("Page"));
        QWidget* tall = block(600);
        auto* toggle = new QPushButton(QStringLiteral("More"));
        tall->hide();
        page.add(toggle, Qt::AlignRight);
        page.add(tall);
        QObject::connect(toggle, &QPushButton::clicked, tall,
                         [tall] { tall->setVisible(!tall->isVisible()); });
        page.resize(width, 400);
        page.show();
        settle();
        QScrollBar* bar = page.verticalScrollBar();
        ASSERT_FALSE(bar->isVisible());

        const QPoint at = middle(toggle);
        QTest::mouseClick(toggle, Qt::LeftButton);
        settle();
        ASSERT_TRUE(bar->isVisible());
        EXPECT_EQ(middle(toggle), at);
        QTest::mouseClick(toggle, Qt::LeftButton);
        settle();
        bar->setValue(0);
        settle();
        ASSERT_FALSE(bar->isVisible());
        EXPECT_EQ(middle(toggle), at);
    }
}

// A page made in an open window and filled before it shows, as the workspace makes its pages, and taller
// than the window, opens with its scroll bar in its first layout: its blocks take their width once,
// without the bar coming, going and coming back.
TEST(QVPage, APageTallerThanItsWindowOpensWithItsScrollBarAtOnce) {
    QVStyle::apply();
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    window.resize(400, 300);
    window.show();
    settle();
    auto* page = new QVPage(QStringLiteral("Page"), {}, nullptr, &window);
    QWidget* wide = block(400);
    Widths widths;
    wide->installEventFilter(&widths);
    page->add(wide);
    page->add(block(400));
    column->addWidget(page);
    page->show();
    settle();
    ASSERT_TRUE(page->verticalScrollBar()->isVisible());
    EXPECT_EQ(widths.seen, QList<int>{wide->width()});
}

}  // namespace quorvel
