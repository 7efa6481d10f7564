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
    QPushButton* other = new QPushButton("Other");

    explicit Form(double initial) : value(initial) {
        window.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        auto* layout = new QVBoxLayout(&window);
        number = new QVNumber("Spacing", QVBinding<double>::of(value), "m");
        layout->addWidget(number);
        layout->addWidget(other);
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    QLineEdit* field() const { return number->field(); }
    void focus(QWidget* w) {
        w->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
    }
    // Replaces the field's text with `typed` as the user does, then leaves the field.
    void typeAndLeave(const QString& typed) {
        focus(field());
        field()->selectAll();
        if (typed.isEmpty())
            QTest::keyClick(field(), Qt::Key_Backspace);
        else
            QTest::keyClicks(field(), typed);
        focus(other);
    }
};

}  // namespace

TEST(QVNumber, FocusPassingThroughOrUnreadableTextNeverChangesTheStoredValue) {
    Form form(12.345);
    EXPECT_EQ(form.field()->text(), "12.35");
    form.focus(form.field());
    form.focus(form.other);
    EXPECT_EQ(form.value, 12.345);
    // Return without typing commits nothing either.
    form.focus(form.field());
    QTest::keyClick(form.field(), Qt::Key_Return);
    form.focus(form.other);
    EXPECT_EQ(form.value, 12.345);
    // Typing the shown text back changes nothing either.
    form.typeAndLeave("12.35");
    EXPECT_EQ(form.value, 12.345);
    EXPECT_EQ(form.field()->text(), "12.35");
    // Unreadable text leaves the value and shows it again.
    for (const char* typed : {"abc", "", "nan", "inf", "1e999", "1.2.3"}) {
        form.typeAndLeave(typed);
        EXPECT_EQ(form.value, 12.345) << typed;
        EXPECT_EQ(form.field()->text(), "12.35") << typed;
    }
}

TEST(QVNumber, TypedTextIsCommittedOnReturnOrFocusLossAndRefreshSparesAnEdit) {
    Form form(1.0);
    int commits = 0;
    QObject::connect(form.number, &QVNumber::committed, [&](double) { ++commits; });
    form.focus(form.field());
    form.field()->selectAll();
    QTest::keyClicks(form.field(), "7.125");
    QTest::keyClick(form.field(), Qt::Key_Return);
    EXPECT_EQ(form.value, 7.125);  // the full typed precision is stored
    EXPECT_EQ(form.field()->text(), "7.13");
    form.focus(form.other);  // leaving after the commit adds nothing
    EXPECT_EQ(commits, 1);
    form.typeAndLeave("-3");
    EXPECT_EQ(form.value, -3.0);
    EXPECT_EQ(commits, 2);
    // The owner's changes show, but not over an edit under way.
    form.value = 2.5;
    form.number->refresh();
    EXPECT_EQ(form.field()->text(), "2.5");
    form.focus(form.field());
    form.field()->selectAll();
    QTest::keyClicks(form.field(), "9");
    form.value = 4.0;
    form.number->refresh();
    EXPECT_EQ(form.field()->text(), "9");  // the user's unfinished edit stays
    QTest::keyClick(form.field(), Qt::Key_Return);
    EXPECT_EQ(form.value, 9.0);
}

TEST(QVNumber, DisplayRulesFollowTheLocale) {
    const QLocale en(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(QVNumber::display(20, en), "20");
    EXPECT_EQ(QVNumber::display(0.5, en), "0.5");
    EXPECT_EQ(QVNumber::display(1.234, en), "1.23");
    EXPECT_EQ(QVNumber::display(1.005, en), "1");  // 1.005 is stored just below itself
    EXPECT_EQ(QVNumber::display(-0.001, en), "0");
    EXPECT_EQ(QVNumber::display(-2.5, en), "-2.5");
    EXPECT_EQ(QVNumber::display(20000, en), "20,000");
    EXPECT_EQ(QVNumber::parse("20,000", en), 20000.0);
    EXPECT_EQ(QVNumber::parse(" 0.75 ", en), 0.75);
    EXPECT_FALSE(QVNumber::parse("0,75", en).has_value());
    // The field follows the locale, also a later change of it.
    const QLocale de(QLocale::German, QLocale::Germany);
    EXPECT_EQ(QVNumber::display(0.5, de), "0,5");
    Form form(0.5);
    EXPECT_EQ(form.field()->text(), "0.5");
    form.window.setLocale(de);
    QApplication::processEvents();
    EXPECT_EQ(form.field()->text(), "0,5");
    form.typeAndLeave("1,75");
    EXPECT_EQ(form.value, 1.75);
}

}  // namespace quorvel
