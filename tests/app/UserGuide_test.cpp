#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "app/QuorvelGuide.h"
#include "app/UserGuideView.h"
#include "kit/QVStyle.h"

namespace quorvel {

namespace {

QStringList ids(const QList<GuideArticle>& articles) {
    QStringList out;
    for (const GuideArticle& a : articles) out << a.id;
    return out;
}

const GuideArticle& article(const QString& id) {
    for (const GuideArticle& a : QuorvelGuide::articles())
        if (a.id == id) return a;
    throw std::runtime_error("no article " + id.toStdString());
}

// The ids of the article rows the user can see, in list order.
QStringList listedIds(UserGuideView& guide) {
    QStringList out;
    for (const GuideArticle& a : QuorvelGuide::articles()) {
        auto* row = guide.findChild<QWidget*>("guideRow-" + a.id);
        if (row && row->isVisibleTo(&guide)) out << a.id;
    }
    return out;
}

bool emptyRowShown(UserGuideView& guide) {
    auto* row = guide.findChild<QLabel*>("guideEmptyRow");
    return row && row->isVisibleTo(&guide);
}

void type(UserGuideView& guide, const QString& text) {
    QTest::keyClicks(guide.findChild<QLineEdit*>("guideSearch"), text);
}

void savePng(QWidget& widget, const QString& name) {
    QApplication::processEvents();  // let the layouts settle before the picture is taken
    QDir().mkpath(QUORVEL_TEST_OUTPUT_DIR);
    ASSERT_TRUE(widget.grab().save(QStringLiteral(QUORVEL_TEST_OUTPUT_DIR "/") + name));
}

// The sheet as the application shows it: with the workspace's dark style installed.
class GuideSheet : public ::testing::Test {
protected:
    void SetUp() override { QVStyle::apply(); }
};

}  // namespace

TEST(GuideArticles, FifteenDistinctArticlesInListOrderWithTheirStepCounts) {
    struct Row {
        const char* id;
        const char* title;
        const char* summary;
        int steps;
    };
    const Row table[] = {
        {"start", "Start here", "Choose playback, a test signal, or a measurement.", 5},
        {"levels", "Outputs and level controls", "Know which control affects the sound you are playing.", 5},
        {"playlists", "Import playlists and reference tracks",
         "Create reusable playlists from local audio or local-path M3U files.", 5},
        {"music", "Music server", "Browse songs and bring existing library playlists into Quorvel.", 4},
        {"signals", "Tones, noise and sweeps", "Use seeded presets or enter your own frequencies and range.",
         5},
        {"routing", "Route A, B and an electrical reference",
         "Send test signals to specific speakers through interface outputs.", 5},
        {"pocket", "Pocket: iPhone mic or external input",
         "Run spectrum checks with the built-in mic or connected hardware.", 5},
        {"rta", "Read the RTA and FFT", "See the frequency content reaching your selected mic.", 4},
        {"delay", "Measure arrival delay",
         "Find time between an electrical reference and the microphone response.", 5},
        {"transfer", "Magnitude, phase and coherence",
         "Understand the three reference-based measurement graphs.", 5},
        {"align", "Align a main and delay/fill speaker",
         "Measure separately, delay the earlier arrival, then verify together.", 5},
        {"sub", "Align subs to mains", "Compare phase across the crossover, not only the arrival peak.", 5},
        {"arrays", "End-fire and gradient/cardioid arrays",
         "Calculate starting geometry, then measure the actual array.", 5},
        {"tests", "Left/right, spoken IDs and sync", "Identify sources and check signal paths.", 4},
        {"troubleshooting", "Troubleshooting", "No sound, no mic, no delay, or no alignment candidate.", 5},
    };
    const QList<GuideArticle>& articles = QuorvelGuide::articles();
    ASSERT_EQ(articles.size(), 15);
    for (int i = 0; i < 15; ++i) {
        SCOPED_TRACE(table[i].id);
        EXPECT_EQ(articles[i].id, QString::fromUtf8(table[i].id));
        EXPECT_EQ(articles[i].title, QString::fromUtf8(table[i].title));
        EXPECT_EQ(articles[i].summary, QString::fromUtf8(table[i].summary));
        EXPECT_EQ(articles[i].steps.size(), table[i].steps);
    }
    EXPECT_EQ(&QuorvelGuide::articles(), &articles) << "built once";
}

TEST(GuideArticles, AlignIsWordForWord) {
    const GuideArticle& align = article("align");
    const QStringList steps{
        QString::fromUtf8(
            "At one unchanged mic position, play A alone and capture it in Align with a descriptive "
            "name."),
        QString::fromUtf8(
            "Play B alone, wait for fresh data, and capture it using the same position/setup labels."),
        QString::fromUtf8(
            "Select the two saved traces under Compare saved traces. Choose Find speaker delay."),
        QString::fromUtf8("Enter the proposed added delay into the named speaker\u2019s external processor."),
        QString::fromUtf8(
            "Play both speakers together, capture the sum and verify the overlap. Recheck more than "
            "one listener position."),
    };
    EXPECT_EQ(align.steps, steps);
    EXPECT_EQ(align.notes, QString::fromUtf8(
                               "Example: A arrives at 18 ms and B at 25 ms \u2192 add 7 ms to A. This is an "
                               "arrival-time starting point. Quorvel does not apply settings to Galileo or a "
                               "console. Captures with mismatched hardware, inputs, sample rate, setup or "
                               "position are rejected."));
}

// The view numbers the steps, and the texts keep their typographic characters throughout.
TEST(GuideArticles, TextsAreCleanAndTypographic) {
    for (const GuideArticle& a : QuorvelGuide::articles()) {
        SCOPED_TRACE(a.id.toStdString());
        QStringList texts{a.title, a.summary, a.notes};
        texts += a.steps;
        for (const QString& text : texts) {
            EXPECT_FALSE(text.trimmed().isEmpty());
            EXPECT_EQ(text, text.trimmed());
            EXPECT_FALSE(text.contains("  ")) << text.toStdString();
            EXPECT_FALSE(text.contains('\'')) << "use \u2019: " << text.toStdString();
            EXPECT_FALSE(text.contains("->")) << text.toStdString();
            EXPECT_FALSE(text.contains(" -2") || text.contains(" -1"))
                << "use \u2212: " << text.toStdString();
        }
        for (const QString& step : a.steps) EXPECT_FALSE(step.at(0).isDigit()) << step.toStdString();
    }
}

TEST(GuideArticles, SearchTextIsTitleSummaryNotesThenStepsAndNeverTheId) {
    const GuideArticle made{"zqid", "T", "S", {"P1", "P2"}, "N"};
    EXPECT_EQ(made.searchText(), "T S N P1 P2");

    const GuideArticle& align = article("align");
    const QString text = align.searchText();
    EXPECT_TRUE(
        text.startsWith(align.title + ' ' + align.summary + ' ' + align.notes + ' ' + align.steps[0] + ' '));
    EXPECT_TRUE(text.endsWith(' ' + align.steps[3] + ' ' + align.steps[4]));

    // "tests" is an id and stands in no article's text.
    EXPECT_TRUE(QuorvelGuide::matching("tests").isEmpty());
}

TEST(GuideArticles, MatchingIgnoresCaseButUsesTheQueryAsTyped) {
    const QStringList all = ids(QuorvelGuide::articles());
    EXPECT_EQ(ids(QuorvelGuide::matching("")), all);
    EXPECT_EQ(ids(QuorvelGuide::matching(" ")), all);
    EXPECT_EQ(ids(QuorvelGuide::matching("MIC")), ids(QuorvelGuide::matching("mic")));
    EXPECT_FALSE(QuorvelGuide::matching("mic").isEmpty());
    EXPECT_EQ(ids(QuorvelGuide::matching(QString::fromUtf8("\u2153-octave"))),
              (QStringList{"pocket", "rta"}));
    // Not trimmed: a trailing space must stand in the text too.
    EXPECT_TRUE(QuorvelGuide::matching("Galileo ").size() == 1);
    EXPECT_TRUE(QuorvelGuide::matching("Galileo  ").isEmpty());
    // Marks count: an accented letter does not find the plain one.
    EXPECT_TRUE(QuorvelGuide::matching(QString::fromUtf8("Galil\u00e9o")).isEmpty());
    // The music article is found by the server's names; no article names the streaming service.
    for (const char* word : {"music", "MPD", "server"})
        EXPECT_TRUE(ids(QuorvelGuide::matching(word)).contains("music")) << word;
    EXPECT_TRUE(QuorvelGuide::matching("Apple").isEmpty());
}

TEST_F(GuideSheet, OpensFromItsEntryPointAsAModalSheetNoSmallerThan640By560) {
    QMainWindow window;
    window.resize(840, 680);
    window.show();
    QPointer<UserGuideView> guide = UserGuideView::present(&window);
    ASSERT_TRUE(guide);
    EXPECT_TRUE(guide->isVisible());
    EXPECT_TRUE(guide->isModal());
    EXPECT_EQ(guide->parentWidget(), &window);
    guide->resize(300, 200);
    EXPECT_GE(guide->width(), 640);
    EXPECT_GE(guide->height(), 560);

    EXPECT_EQ(guide->findChild<QLabel*>("guideHeaderTitle")->text(), "Quorvel + Quorvel Pocket");
    EXPECT_EQ(guide->findChild<QLabel*>("guideHeaderCaption")->text(),
              QString::fromUtf8("Offline guide \u00b7 local build 0.3"));
    EXPECT_EQ(guide->findChild<QLineEdit*>("guideSearch")->placeholderText(),
              "Search setup, controls or troubleshooting");
    EXPECT_EQ(listedIds(*guide), ids(QuorvelGuide::articles()));
    EXPECT_FALSE(emptyRowShown(*guide));
    // Every text reads light on the dark sheet, the row labels inside their buttons too.
    for (QLabel* label : guide->findChildren<QLabel*>())
        EXPECT_GT(label->palette().color(label->foregroundRole()).lightness(), 120)
            << label->objectName().toStdString();
    EXPECT_TRUE(guide->openArticleId().isEmpty());
    guide->close();
}

TEST_F(GuideSheet, FiltersOnEveryKeystroke) {
    UserGuideView guide;
    guide.show();
    const QString query = "sub";
    for (int n = 1; n <= query.size(); ++n) {
        type(guide, query.mid(n - 1, 1));
        EXPECT_EQ(listedIds(guide), ids(QuorvelGuide::matching(query.left(n)))) << n;
    }
    EXPECT_LT(listedIds(guide).size(), 15);
    EXPECT_TRUE(listedIds(guide).contains("sub"));

    guide.findChild<QLineEdit*>("guideSearch")->clear();
    type(guide, "MIC");
    const QStringList upper = listedIds(guide);
    guide.findChild<QLineEdit*>("guideSearch")->clear();
    type(guide, "mic");
    EXPECT_EQ(listedIds(guide), upper);

    guide.findChild<QLineEdit*>("guideSearch")->clear();
    type(guide, " ");
    EXPECT_EQ(listedIds(guide).size(), 15);
    EXPECT_FALSE(emptyRowShown(guide));
}

TEST_F(GuideSheet, AQueryFoundNowhereLeavesTheHeaderAndTheEmptyRow) {
    UserGuideView guide;
    guide.show();
    type(guide, "tests");
    EXPECT_TRUE(listedIds(guide).isEmpty());
    ASSERT_TRUE(emptyRowShown(guide));
    EXPECT_EQ(
        guide.findChild<QLabel*>("guideEmptyRow")->text(),
        QString::fromUtf8("No matching topic. Try \u2018mic\u2019, \u2018delay\u2019, \u2018music\u2019 or "
                          "\u2018sub\u2019."));
    EXPECT_TRUE(guide.findChild<QLabel*>("guideHeaderTitle")->isVisibleTo(&guide));
    EXPECT_TRUE(guide.findChild<QLabel*>("guideHeaderCaption")->isVisibleTo(&guide));

    // Return in the search field neither opens nor closes anything.
    QTest::keyClick(guide.findChild<QLineEdit*>("guideSearch"), Qt::Key_Return);
    EXPECT_TRUE(guide.isVisible());
}

TEST_F(GuideSheet, DoneClosesAndForgetsTheQueryAndThePage) {
    QMainWindow window;
    window.show();
    QPointer<UserGuideView> first = UserGuideView::present(&window);
    type(*first, "delay");
    QTest::mouseClick(first->findChild<QWidget*>("guideRow-delay"), Qt::LeftButton);
    ASSERT_EQ(first->openArticleId(), "delay");
    bool finished = false;
    QObject::connect(first, &QDialog::finished, [&] { finished = true; });
    QTest::mouseClick(first->findChild<QPushButton*>("guideDone"), Qt::LeftButton);
    EXPECT_TRUE(finished);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull()) << "a presented guide deletes itself";

    QPointer<UserGuideView> second = UserGuideView::present(&window);
    EXPECT_TRUE(second->query().isEmpty());
    EXPECT_EQ(listedIds(*second).size(), 15);
    second->close();

    // A guide kept and shown again forgets as well, also when closed with Escape.
    UserGuideView kept(&window);
    kept.open();
    type(kept, "sub");
    kept.openArticle("sub");
    QTest::keyClick(&kept, Qt::Key_Escape);
    EXPECT_FALSE(kept.isVisible());
    kept.open();
    EXPECT_TRUE(kept.query().isEmpty());
    EXPECT_TRUE(kept.openArticleId().isEmpty());
    EXPECT_EQ(listedIds(kept).size(), 15);
}

TEST_F(GuideSheet, ArticlePageNumbersItsStepsAndLetsTheTextBeSelected) {
    UserGuideView guide;
    guide.resize(720, 640);
    guide.show();
    for (const QString id : {"music", "align"}) {
        SCOPED_TRACE(id.toStdString());
        const GuideArticle& a = article(id);
        QTest::mouseClick(guide.findChild<QWidget*>("guideRow-" + id), Qt::LeftButton);
        ASSERT_EQ(guide.openArticleId(), id);
        EXPECT_EQ(guide.findChild<QLabel*>("guideNavTitle")->text(), a.title);
        EXPECT_FALSE(guide.findChild<QLineEdit*>("guideSearch")->isVisibleTo(&guide));

        QWidget* page = guide.findChild<QWidget*>("guideArticleColumn");
        ASSERT_TRUE(page);
        EXPECT_EQ(page->findChild<QLabel*>("guideSummary")->text(), a.summary);
        QStringList numbers, texts;
        for (QLabel* l : page->findChildren<QLabel*>("guideStepNumber")) numbers << l->text();
        for (QLabel* l : page->findChildren<QLabel*>("guideStepText")) {
            texts << l->text();
            EXPECT_TRUE(l->textInteractionFlags() & Qt::TextSelectableByMouse);
        }
        QStringList expected;
        for (int i = 1; i <= a.steps.size(); ++i) expected << QString::number(i);
        EXPECT_EQ(numbers, expected);
        EXPECT_EQ(texts, a.steps);
        QLabel* notes = page->findChild<QLabel*>("guideNotes");
        EXPECT_EQ(notes->text(), a.notes);
        EXPECT_TRUE(notes->textInteractionFlags() & Qt::TextSelectableByMouse);

        if (id == "align") savePng(guide, "guide-article-align.png");
        QTest::mouseClick(guide.findChild<QWidget*>("guideBack"), Qt::LeftButton);
        EXPECT_TRUE(guide.openArticleId().isEmpty());
        EXPECT_TRUE(guide.findChild<QLineEdit*>("guideSearch")->isVisibleTo(&guide));
    }
    savePng(guide, "guide-list.png");
}

TEST_F(GuideSheet, WideSheetKeepsTheArticleColumnCentredAndReadable) {
    UserGuideView guide;
    guide.resize(1400, 700);
    guide.show();
    guide.openArticle("sub");
    QApplication::processEvents();
    QWidget* column = guide.findChild<QWidget*>("guideArticleColumn");
    ASSERT_TRUE(column);
    const int left = column->x();
    const int right = column->parentWidget()->width() - column->geometry().right() - 1;
    EXPECT_EQ(column->width(), 760);
    EXPECT_NEAR(left, right, 1);

    guide.resize(640, 560);
    QApplication::processEvents();
    EXPECT_EQ(column->x(), 0);
    EXPECT_EQ(column->width(), column->parentWidget()->width());
}

}  // namespace quorvel
