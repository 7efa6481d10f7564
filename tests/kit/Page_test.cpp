// A page keeps the control the user pressed where it is on screen while its content changes height.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyleHints>
#include <QTest>
#include <QVBoxLayout>

#include "QtPrinting.h"
#include "WindowInput.h"
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

// A page that fits its window: a hidden block of 100 px above a button titled `title`, shown and laid out.
QPushButton* buttonBelowAHiddenBlock(QVPage& page, QWidget*& above, const QString& title) {
    above = block(100);
    auto* button = new QPushButton(title);
    above->hide();
    page.add(above);
    page.add(button);
    page.resize(400, 500);
    page.show();
    settle();
    return button;
}

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
    QWidget* above = nullptr;
    QPushButton* show = buttonBelowAHiddenBlock(page, above, QStringLiteral("Show"));
    QObject::connect(show, &QPushButton::clicked, above, &QWidget::show);
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

// A click that hides a line two layouts deep, above the control or below it at the page's end, shows one
// above it, or makes one above it taller at once (over the control, until the layout moves the control
// down): the control is back in place in the turn of the event loop that lays the change out, and a second
// press at the same point lands on it however many turns the program runs between the two.
TEST(QVPage, APressedControlStaysInPlaceFromTheTurnThatChangesThePageAndTakesTheNextPress) {
    enum class Change { hideAbove, hideBelow, showAbove, growAbove };
    for (const Change change : {Change::hideAbove, Change::hideBelow, Change::showAbove, Change::growAbove})
        for (int turns = 0; turns <= 5; ++turns) {
            SCOPED_TRACE(testing::Message() << "change " << int(change) << ", turns " << turns);
            QVPage page(QStringLiteral("Page"));
            auto* card = new QWidget;
            auto* cardColumn = new QVBoxLayout(card);
            auto* group = new QWidget;
            auto* groupColumn = new QVBoxLayout(group);
            auto* button = new QPushButton(QStringLiteral("Step"));
            groupColumn->addWidget(button);
            QWidget* line = block(40);
            cardColumn->addWidget(group);
            cardColumn->insertWidget(change == Change::hideBelow ? 1 : 0, line);
            line->setVisible(change != Change::showAbove);
            page.add(block(600));
            page.add(card);
            int clicks = 0;
            QObject::connect(button, &QPushButton::clicked, line, [&] {
                ++clicks;
                if (change == Change::growAbove)
                    line->setFixedHeight(80);
                else
                    line->setVisible(change == Change::showAbove);
            });
            page.resize(400, 300);
            page.show();
            settle();
            page.verticalScrollBar()->setValue(page.verticalScrollBar()->maximum());
            settle();

            const QPoint at = middle(button);
            const quint64 time = WindowInput::freshTime();
            WindowInput::click(&page, at, time);
            for (int turn = 0; turn < turns; ++turn) {
                QCoreApplication::processEvents();
                EXPECT_EQ(middle(button), at) << "after turn " << turn;
            }
            WindowInput::click(&page, at, time + 90);
            settle();
            EXPECT_EQ(clicks, 2);
            EXPECT_EQ(middle(button), at);
        }
}

// Buttons that each take themselves away, the ones below moving up: a second press within the double-click
// interval at the first one's point was meant for the button that went, and acts on nothing; later, or
// elsewhere, it is a click of its own.
TEST(QVPage, AQuickSecondPressWhereThePressedControlWentActsOnNothing) {
    const int interval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
    const struct {
        int gapMS;
        int lowerBy;
        int removed;
    } cases[] = {{50, 0, 1}, {300, 0, 1}, {interval + 100, 0, 2}, {50, 20, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.gapMS << " ms apart, " << c.lowerBy << " px lower");
        QVPage page(QStringLiteral("Page"));
        auto* rows = new QWidget;
        auto* column = new QVBoxLayout(rows);
        column->setSpacing(0);
        column->setContentsMargins(0, 0, 0, 0);
        QStringList removed;
        QList<QPushButton*> buttons;
        for (int i = 0; i < 3; ++i) {
            auto* remove = new QPushButton(QStringLiteral("Remove %1").arg(i));
            remove->setFixedHeight(30);
            QObject::connect(remove, &QPushButton::clicked, remove, [&removed, remove] {
                removed << remove->text();
                remove->hide();
                remove->deleteLater();
            });
            column->addWidget(remove);
            buttons << remove;
        }
        page.add(rows);
        page.resize(400, 500);
        page.show();
        settle();

        const QPoint at = middle(buttons[0]);
        const quint64 time = WindowInput::freshTime();
        WindowInput::click(&page, at, time);
        settle();
        ASSERT_EQ(removed, QStringList{"Remove 0"});
        WindowInput::click(&page, at + QPoint(0, c.lowerBy), time + quint64(c.gapMS));
        settle();
        EXPECT_EQ(removed.size(), c.removed) << removed.join(", ").toStdString();
    }
}

// The control is held while the pointer stays where it pressed. A block that comes above it once the
// pointer has moved on, once the user pressed elsewhere, or once the control itself is gone, leaves a page
// that fits at its top.
TEST(QVPage, APageThatFitsStaysAtItsTopOnceThePointerLeftOrThePressedControlWent) {
    enum class Then { pointerLeaves, pressElsewhere, controlGoes };
    for (const Then then : {Then::pointerLeaves, Then::pressElsewhere, Then::controlGoes}) {
        SCOPED_TRACE(int(then));
        QVPage page(QStringLiteral("Page"));
        QWidget* above = nullptr;
        QPushButton* import = buttonBelowAHiddenBlock(page, above, QStringLiteral("Import"));
        QScrollBar* bar = page.verticalScrollBar();
        QPushButton elsewhere(QStringLiteral("Open"));  // a dialog's, say
        elsewhere.show();

        const QPoint at = middle(import);
        WindowInput::click(&page, at, WindowInput::freshTime());
        settle();
        if (then == Then::pointerLeaves) WindowInput::send(&page, QEvent::MouseMove, at + QPoint(0, 40), 0);
        if (then == Then::pressElsewhere) QTest::mouseClick(&elsewhere, Qt::LeftButton);
        above->show();  // a result that comes later, as an import's
        settle();
        if (then != Then::controlGoes) {
            EXPECT_EQ(bar->value(), 0);
            continue;
        }
        EXPECT_EQ(middle(import), at) << "held while the pointer is still there";
        import->hide();
        settle();
        EXPECT_EQ(bar->value(), 0);
        EXPECT_EQ(bar->maximum(), 0);
    }
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
