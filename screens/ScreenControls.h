#pragma once
// Controls the measurement, player and check screens share beyond the component kit: a segmented choice,
// a stepper, a collapsible group, a pop-up picker whose entries change, and the orange used for warnings
// and second traces.
//
// Each control separates showing a value from the user choosing one: setValue() only shows (it emits
// nothing, so syncing a control from its model never looks like a user change), while the signals fire
// only on the user's press, and only when the value actually changes. Main thread only.
#include <QColor>
#include <QComboBox>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <iterator>
#include <optional>
#include <vector>

class QAbstractButton;
class QLabel;
class QToolButton;

namespace quorvel {

namespace ScreenColors {
// The platform orange (dark appearance): second traces, inverted elements, candidate badges.
const QColor& orange();
}  // namespace ScreenColors

// A caption and one toggle segment per label. The value is the chosen segment's index, counted from 0 in
// the order given; -1 leaves every segment unchecked (a model value that matches no segment).
class SegmentedPicker : public QWidget {
    Q_OBJECT
public:
    SegmentedPicker(const QString& title, const QStringList& labels, QWidget* parent = nullptr);

    int index() const { return index_; }
    void setIndex(int index);
    // The segment that shows `label`; null when there is none.
    QAbstractButton* segment(const QString& label) const;

signals:
    void chosen(int index);

private:
    void showIndex();

    std::vector<QAbstractButton*> segments_;
    int index_ = -1;
};

// The index of `value` in `values`, or -1: for showing a model's text value on a SegmentedPicker.
template <typename Values, typename Value>
int indexIn(const Values& values, const Value& value) {
    for (std::size_t i = 0; i < std::size(values); ++i)
        if (values[i] == value) return int(i);
    return -1;
}

// A label with minus and plus buttons that step an integer by one within [low, high]. A shown value
// outside the range is kept until the user steps, which moves it into the range.
class Stepper : public QWidget {
    Q_OBJECT
public:
    Stepper(int low, int high, std::function<QString(int)> label, QWidget* parent = nullptr);

    int value() const { return value_; }
    void setValue(int value);
    QString text() const;
    QToolButton* minusButton() const { return minus_; }
    QToolButton* plusButton() const { return plus_; }

signals:
    void stepped(int value);

private:
    void step(int by);
    void showValue();

    int low_;
    int high_;
    int value_;
    std::function<QString(int)> labelFor_;
    QLabel* label_ = nullptr;
    QToolButton* minus_ = nullptr;
    QToolButton* plus_ = nullptr;
};

// A pop-up picker over entries that change while the page shows it (devices, saved traces). Its label is as
// wide as its longest entry needs, as far as its row has room, whenever the entries change; an open list
// changes its size and place with them, as it would opening anew, so it never keeps the height of a
// longer list nor runs off the screen.
class PopupPicker : public QComboBox {
    Q_OBJECT
public:
    explicit PopupPicker(QWidget* parent = nullptr);

    // Runs each time the list is about to open, before it is placed (a device picker asks for a new
    // listing there).
    std::function<void()> opening;

    void showPopup() override;

private:
    // Places the open list again for the entries it has now.
    void fitOpenList();
};

// A collapsible group: a header button with a disclosure arrow and a title, and the content below it,
// shown only while expanded. Starts collapsed.
class Disclosure : public QWidget {
    Q_OBJECT
public:
    // `contentGap` is the space between the header and the content.
    Disclosure(const QString& title, QWidget* content, const QFont& titleFont, int contentGap,
               QWidget* parent = nullptr);

    QString title() const;
    void setTitle(const QString& title);
    bool expanded() const;
    void setExpanded(bool expanded);
    QToolButton* header() const { return header_; }
    // Where the content lives: a content made in it (and then given to setContent()) is never moved, so
    // the style sheet does not style it all over again. For a group made without its content.
    QWidget* body() const { return holder_; }
    void setContent(QWidget* content);

private:
    QToolButton* header_ = nullptr;
    QWidget* holder_ = nullptr;
};

// A read-out: `value` through the printf `format` (one double), or the em dash when it is absent.
QString readout(std::optional<double> value, const char* format);

// Removes and deletes every item of `layout` (widgets and nested layouts); for rows rebuilt from a model.
void clearLayout(class QLayout* layout);

}  // namespace quorvel
