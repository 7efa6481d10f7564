#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include "kit/QVNumber.h"

namespace quorvel {

namespace {

// A window with the number field and a second control to move focus to.
struct Form {
    double value;
    QWidget window;
    QVNumber* number;
    QPushButton* other;

    explicit Form(double initial, const QLocale& locale = QLocale(QLocale::English, QLocale::UnitedStates))
        : value(initial) {
        window.setLocale(locale);
        auto* layout = new QVBoxLayout(&window);
        number = new QVNumber("Spacing", QVBinding<double>::of(value), "m");
        other = new QPushButton("Other");
        other->setFocusPolicy(Qt::StrongFocus);
        layout->addWidget(number);
        layout->addWidget(other);
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    QLineEdit* field() const { return number->field(); }
    void focusField() {
        field()->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        ASSERT_TRUE(field()->hasFocus());
    }
    void focusOther() {
        other->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        ASSERT_FALSE(field()->hasFocus());
    }
};

}  // namespace

TEST(QVNumber, FocusPassingThroughNeverRoundsTheStoredValue) {
    Form form(12.345);
    EXPECT_EQ(form.field()->text(), "12.35");
    form.focusField();
    form.focusOther();
    EXPECT_EQ(form.value, 12.345);
    // Return without typing commits nothing either.
    form.focusField();
    QTest::keyClick(form.field(), Qt::Key_Return);
    form.focusOther();
    EXPECT_EQ(form.value, 12.345);
    EXPECT_EQ(form.field()->text(), "12.35");
    // Typing the shown text back changes nothing either.
    form.focusField();
    QTest::keyClick(form.field(), Qt::Key_End);
    QTest::keyClick(form.field(), Qt::Key_Backspace);
    QTest::keyClicks(form.field(), "5");
    form.focusOther();
    EXPECT_EQ(form.value, 12.345);
}

TEST(QVNumber, TypedTextIsCommittedOnReturnOrFocusLoss) {
    Form form(1.0);
    int commits = 0;
    QObject::connect(form.number, &QVNumber::committed, [&](double) { ++commits; });

    form.focusField();
    form.field()->selectAll();
    QTest::keyClicks(form.field(), "7.125");
    QTest::keyClick(form.field(), Qt::Key_Return);
    EXPECT_EQ(form.value, 7.125);  // the full typed precision is stored
    EXPECT_EQ(form.field()->text(), "7.13");
    form.focusOther();  // leaving after the commit adds nothing
    EXPECT_EQ(commits, 1);

    form.focusField();
    form.field()->selectAll();
    QTest::keyClicks(form.field(), "-3");
    form.focusOther();
    EXPECT_EQ(form.value, -3.0);
    EXPECT_EQ(commits, 2);
}

TEST(QVNumber, UnreadableTextLeavesTheValueAndShowsItAgain) {
    Form form(48.0);
    for (const char* typed : {"abc", "", "nan", "inf", "1e999", "1.2.3"}) {
        form.focusField();
        form.field()->selectAll();
        if (*typed)
            QTest::keyClicks(form.field(), typed);
        else
            QTest::keyClick(form.field(), Qt::Key_Backspace);
        form.focusOther();
        EXPECT_EQ(form.value, 48.0) << typed;
        EXPECT_EQ(form.field()->text(), "48") << typed;
    }
}

TEST(QVNumber, RefreshShowsOwnerChangesButNotOverAnEdit) {
    Form form(1.0);
    form.value = 2.5;
    form.number->refresh();
    EXPECT_EQ(form.field()->text(), "2.5");

    form.focusField();
    form.field()->selectAll();
    QTest::keyClicks(form.field(), "9");
    form.value = 4.0;
    form.number->refresh();
    EXPECT_EQ(form.field()->text(), "9");  // the user's unfinished edit stays
    QTest::keyClick(form.field(), Qt::Key_Return);
    EXPECT_EQ(form.value, 9.0);
}

TEST(QVNumber, DisplayRules) {
    const QLocale en(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(QVNumber::display(20, en), "20");
    EXPECT_EQ(QVNumber::display(0.5, en), "0.5");
    EXPECT_EQ(QVNumber::display(1.234, en), "1.23");
    EXPECT_EQ(QVNumber::display(1.005, en), "1");  // 1.005 is stored just below itself
    EXPECT_EQ(QVNumber::display(0, en), "0");
    EXPECT_EQ(QVNumber::display(-0.0, en), "0");
    EXPECT_EQ(QVNumber::display(-0.001, en), "0");
    EXPECT_EQ(QVNumber::display(-2.5, en), "-2.5");
    EXPECT_EQ(QVNumber::display(20000, en), "20,000");
    EXPECT_EQ(QVNumber::parse("20,000", en), 20000.0);
    EXPECT_EQ(QVNumber::parse(" 0.75 ", en), 0.75);
    EXPECT_FALSE(QVNumber::parse("0,75", en).has_value());
}

TEST(QVNumber, FollowsTheLocaleIncludingLaterChanges) {
    const QLocale de(QLocale::German, QLocale::Germany);
    EXPECT_EQ(QVNumber::display(0.5, de), "0,5");
    EXPECT_EQ(QVNumber::parse("2,25", de), 2.25);

    Form form(0.5);
    EXPECT_EQ(form.field()->text(), "0.5");
    form.window.setLocale(de);
    QApplication::processEvents();
    EXPECT_EQ(form.field()->text(), "0,5");
    form.focusField();
    form.field()->selectAll();
    QTest::keyClicks(form.field(), "1,75");
    QTest::keyClick(form.field(), Qt::Key_Return);
    EXPECT_EQ(form.value, 1.75);
}

}  // namespace quorvel
