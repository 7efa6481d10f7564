#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <algorithm>

#include "AppHarness.h"
#include "app/QuorvelGuide.h"
#include "app/UserGuideView.h"

namespace quorvel {

namespace {

QStringList ids(const QList<GuideArticle>& articles) {
    QStringList out;
    for (const GuideArticle& a : articles) out << a.id;
    return out;
}

// The ids of the article rows the user can see, in list order.
QStringList listed(UserGuideView& guide) {
    QStringList out;
    for (const GuideArticle& a : QuorvelGuide::articles()) {
        auto* row = guide.findChild<QWidget*>("guideRow-" + a.id);
        if (row && row->isVisibleTo(&guide)) out << a.id;
    }
    return out;
}

bool emptyRowShown(UserGuideView& guide) {
    return guide.findChild<QLabel*>("guideEmptyRow")->isVisibleTo(&guide);
}

QLineEdit* search(UserGuideView& guide) { return guide.findChild<QLineEdit*>("guideSearch"); }

using GuideSheet = AppTest;  // for the workspace's style

}  // namespace

// Every article is there once, complete, and found by its own title; the search reads title, summary,
// notes and steps (never the id), ignores case, and takes the query as typed.
TEST(GuideArticles, EveryArticleIsCompleteAndFoundByItsTitle) {
    const QList<GuideArticle>& articles = QuorvelGuide::articles();
    ASSERT_EQ(articles.size(), 15);
    const QStringList all = ids(articles);
    EXPECT_EQ(QSet<QString>(all.begin(), all.end()).size(), 15);
    for (const GuideArticle& a : articles) {
        SCOPED_TRACE(a.id.toStdString());
        EXPECT_FALSE(a.title.isEmpty() || a.summary.isEmpty() || a.notes.isEmpty() || a.steps.size() < 4);
        EXPECT_TRUE(ids(QuorvelGuide::matching(a.title.toUpper())).contains(a.id));
    }
    EXPECT_TRUE(QuorvelGuide::matching("tests").isEmpty()) << "an id only";
    EXPECT_EQ(ids(QuorvelGuide::matching("")), all);
    EXPECT_EQ(ids(QuorvelGuide::matching(QString::fromUtf8("\u2153-octave"))),
              (QStringList{"pocket", "rta"}));
    EXPECT_EQ(QuorvelGuide::matching("Galileo ").size(), 1);
    EXPECT_TRUE(QuorvelGuide::matching("Galileo  ").isEmpty());
}

TEST_F(GuideSheet, FiltersOnEveryKeystrokeAndSaysWhenNothingMatches) {
    QMainWindow window;
    window.resize(840, 680);
    window.show();
    QPointer<UserGuideView> guide = UserGuideView::present(&window);
    ASSERT_TRUE(guide);
    EXPECT_TRUE(guide->isVisible() && guide->isModal());
    EXPECT_EQ(guide->focusWidget(), search(*guide));
    guide->resize(300, 200);
    EXPECT_GE(guide->width(), 640);
    EXPECT_GE(guide->height(), 560);
    // Every text reads light on the dark sheet, the row labels inside their buttons too.
    for (QLabel* label : guide->findChildren<QLabel*>())
        EXPECT_GT(label->palette().color(label->foregroundRole()).lightness(), 120)
            << label->objectName().toStdString();
    EXPECT_EQ(listed(*guide), ids(QuorvelGuide::articles()));
    EXPECT_FALSE(emptyRowShown(*guide));

    for (const QString typed : {"s", "su", "sub"}) {
        QTest::keyClick(search(*guide), typed.back().toLatin1());
        EXPECT_EQ(listed(*guide), ids(QuorvelGuide::matching(typed))) << typed.toStdString();
    }
    EXPECT_LT(listed(*guide).size(), 15);
    search(*guide)->setText("tests");
    EXPECT_TRUE(listed(*guide).isEmpty());
    EXPECT_TRUE(emptyRowShown(*guide));
    // Return in the search field neither opens nor closes anything.
    QTest::keyClick(search(*guide), Qt::Key_Return);
    EXPECT_TRUE(guide->isVisible());
    EXPECT_TRUE(guide->openArticleId().isEmpty());
    savePicture(guide, "guide-list");
    guide->close();
}

TEST_F(GuideSheet, ArticlePageNumbersItsStepsAndBackReturnsToItsRow) {
    UserGuideView guide;
    guide.resize(720, 640);
    guide.show();
    QTest::keyClicks(search(guide), "align");
    const GuideArticle& align = QuorvelGuide::articles()[10];
    ASSERT_EQ(align.id, "align");
    QTest::mouseClick(guide.findChild<QWidget*>("guideRow-align"), Qt::LeftButton);
    ASSERT_EQ(guide.openArticleId(), "align");
    EXPECT_EQ(guide.findChild<QLabel*>("guideNavTitle")->text(), align.title);
    EXPECT_TRUE(QFontInfo(guide.findChild<QLabel*>("guideNavTitle")->font()).bold());
    EXPECT_FALSE(search(guide)->isVisibleTo(&guide));

    QStringList numbers, texts;
    for (QLabel* l : guide.findChildren<QLabel*>("guideStepNumber")) numbers << l->text();
    for (QLabel* l : guide.findChildren<QLabel*>("guideStepText")) {
        texts << l->text();
        EXPECT_TRUE(l->textInteractionFlags() & Qt::TextSelectableByMouse);
    }
    EXPECT_EQ(numbers, (QStringList{"1", "2", "3", "4", "5"}));
    // Each number is centred in its box: as much room left of its ink as right of it.
    const QImage one = guide.findChild<QLabel*>("guideStepNumber")->grab().toImage();
    int left = one.width(), right = 0;
    for (int y = 0; y < one.height(); ++y)
        for (int x = 0; x < one.width(); ++x)
            if (one.pixel(x, y) != one.pixel(0, 0)) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    EXPECT_LE(std::abs(left - (one.width() - 1 - right)), 2) << left << " " << right;
    EXPECT_EQ(texts, align.steps);
    EXPECT_EQ(guide.findChild<QLabel*>("guideSummary")->text(), align.summary);
    EXPECT_EQ(guide.findChild<QLabel*>("guideNotes")->text(), align.notes);
    savePicture(&guide, "guide-article-align");
    // Another article replaces the page; Back lands on the row it came from, the query kept.
    guide.openArticle("sub");
    EXPECT_EQ(guide.findChildren<QLabel*>("guideStepText").size(), QuorvelGuide::articles()[11].steps.size());
    QTest::mouseClick(guide.findChild<QWidget*>("guideBack"), Qt::LeftButton);
    EXPECT_TRUE(guide.openArticleId().isEmpty());
    EXPECT_EQ(guide.findChild<QLabel*>("guideNavTitle")->text(), "User Guide");
    EXPECT_TRUE(search(guide)->isVisibleTo(&guide));
    EXPECT_EQ(guide.query(), "align");
    guide.openArticle("align");
    QTest::mouseClick(guide.findChild<QWidget*>("guideBack"), Qt::LeftButton);
    EXPECT_EQ(guide.focusWidget(), guide.findChild<QWidget*>("guideRow-align"));
    guide.openArticle("no such article");
    EXPECT_TRUE(guide.openArticleId().isEmpty());
}

TEST_F(GuideSheet, ClosingForgetsTheQueryAndThePageWhicheverWayItCloses) {
    QMainWindow window;
    window.show();
    QPointer<UserGuideView> first = UserGuideView::present(&window);
    QTest::keyClicks(search(*first), "delay");
    first->openArticle("delay");
    QTest::mouseClick(first->findChild<QPushButton*>("guideDone"), Qt::LeftButton);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull()) << "a presented guide deletes itself";

    UserGuideView kept(&window);
    kept.open();
    QTest::keyClicks(search(kept), "sub");
    kept.openArticle("sub");
    QTest::keyClick(&kept, Qt::Key_Escape);
    EXPECT_FALSE(kept.isVisible());
    kept.open();
    EXPECT_TRUE(kept.query().isEmpty());
    EXPECT_TRUE(kept.openArticleId().isEmpty());
    EXPECT_EQ(listed(kept).size(), 15);
}

}  // namespace quorvel
