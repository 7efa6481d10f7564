#include "screens/ScreenControls.h"

#include <QAbstractItemView>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "kit/QVFormat.h"
#include "kit/QVStyle.h"

namespace quorvel {

namespace ScreenColors {
const QColor& orange() {
    static const QColor c = QColor::fromRgbF(1.0f, 0.624f, 0.039f);
    return c;
}
}  // namespace ScreenColors

namespace {

QString rgba(const QColor& c, double alpha) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(c.red())
        .arg(c.green())
        .arg(c.blue())
        .arg(int(alpha * 255));
}

}  // namespace

// ---- SegmentedPicker ----

SegmentedPicker::SegmentedPicker(const QString& title, const QStringList& labels, QWidget* parent)
    : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    auto* caption = new QLabel(title, this);
    QVStyle::setText(caption, QVText::Subheadline, QVStyle::secondary());
    row->addWidget(caption);

    // The track and the segments are made in place, the track's style sheet given once it is there: a
    // widget with a style sheet of its own that moves to another parent is styled all over again.
    auto* track = new QWidget(this);
    row->addWidget(track, 1);
    track->setObjectName(QStringLiteral("qvSegments"));
    track->setAttribute(Qt::WA_StyledBackground);
    track->setStyleSheet(
        QStringLiteral(
            "#qvSegments { background: %1; border-radius: 8px; }"
            "QPushButton { background: transparent; border: none; border-radius: 6px; padding: 5px 12px;"
            " color: %2; }"
            "QPushButton:checked { background: %3; color: %4; }"
            "QPushButton:hover:!checked { background: %5; }")
            .arg(rgba(Qt::white, 0.07), QVStyle::primary().name(), QVStyle::accent().name(),
                 QVStyle::background().name(), rgba(Qt::white, 0.05)));
    auto* segmentsRow = new QHBoxLayout(track);
    segmentsRow->setContentsMargins(2, 2, 2, 2);
    segmentsRow->setSpacing(2);
    for (int i = 0; i < labels.size(); ++i) {
        auto* button = new QPushButton(qvLiteral(labels[i]), track);
        button->setCheckable(true);
        button->setFont(QVStyle::font(QVText::Subheadline, QFont::Medium));
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setFocusPolicy(Qt::TabFocus);
        connect(button, &QPushButton::clicked, this, [this, i] {
            const bool changed = i != index_;
            index_ = i;
            showIndex();  // a click on the checked segment must not uncheck it
            if (changed) emit chosen(i);
        });
        segmentsRow->addWidget(button);
        segments_.push_back(button);
    }
    showIndex();
}

void SegmentedPicker::setIndex(int index) {
    index_ = index;
    showIndex();
}

QAbstractButton* SegmentedPicker::segment(const QString& label) const {
    for (QAbstractButton* b : segments_)
        if (qvShown(b->text()) == label) return b;
    return nullptr;
}

void SegmentedPicker::showIndex() {
    for (std::size_t i = 0; i < segments_.size(); ++i) segments_[i]->setChecked(int(i) == index_);
}

// ---- Stepper ----

Stepper::Stepper(int low, int high, std::function<QString(int)> label, QWidget* parent)
    : QWidget(parent), low_(low), high_(high), value_(low), labelFor_(std::move(label)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    label_ = new QLabel(this);
    QVStyle::setText(label_, QVText::Body);
    row->addWidget(label_, 1);
    const QString buttonStyle =
        QStringLiteral(
            "QToolButton { background: %1; border: none; border-radius: 6px; min-width: 26px;"
            " min-height: 22px; color: %2; }"
            "QToolButton:pressed { background: %3; }"
            "QToolButton:disabled { color: %4; }")
            .arg(rgba(Qt::white, 0.09), QVStyle::primary().name(), rgba(Qt::white, 0.18),
                 rgba(QVStyle::primary(), 0.3));
    // Made in place, each button's style sheet given once it is there: a widget with a style sheet of its
    // own that moves to another parent is styled all over again.
    minus_ = new QToolButton(this);
    minus_->setText(qvLiteral(QStringLiteral("\u2212")));
    plus_ = new QToolButton(this);
    plus_->setText(qvLiteral(QStringLiteral("+")));
    for (QToolButton* b : {minus_, plus_}) {
        row->addWidget(b);
        b->setStyleSheet(buttonStyle);
        b->setFont(QVStyle::font(QVText::Body, QFont::DemiBold));
    }
    connect(minus_, &QToolButton::clicked, this, [this] { step(-1); });
    connect(plus_, &QToolButton::clicked, this, [this] { step(+1); });
    showValue();
}

void Stepper::setValue(int value) {
    value_ = value;
    showValue();
}

QString Stepper::text() const { return label_->text(); }

void Stepper::step(int by) {
    const int next = std::clamp(value_ + by, low_, high_);
    if (next == value_) return;
    value_ = next;
    showValue();
    emit stepped(value_);
}

void Stepper::showValue() {
    label_->setText(labelFor_ ? labelFor_(value_) : QString::number(value_));
    minus_->setEnabled(value_ > low_);
    plus_->setEnabled(value_ < high_);
}

// ---- PopupPicker ----

PopupPicker::PopupPicker(QWidget* parent) : QComboBox(parent) {
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    QAbstractItemModel* entries = model();
    connect(entries, &QAbstractItemModel::rowsInserted, this, &PopupPicker::fitOpenList);
    connect(entries, &QAbstractItemModel::rowsRemoved, this, &PopupPicker::fitOpenList);
    connect(entries, &QAbstractItemModel::modelReset, this, &PopupPicker::fitOpenList);
    connect(entries, &QAbstractItemModel::dataChanged, this, &PopupPicker::fitOpenList);
}

void PopupPicker::showPopup() {
    if (opening) opening();
    QComboBox::showPopup();
}

void PopupPicker::fitOpenList() {
    // The list keeps the frame it opened with; opening again on the open list sizes and places it anew.
    if (view()->isVisible() && count() > 0) QComboBox::showPopup();
}

// ---- Disclosure ----

Disclosure::Disclosure(const QString& title, QWidget* content, const QFont& titleFont, int contentGap,
                       QWidget* parent)
    : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    // Made in place before its style sheet is given (see Stepper).
    header_ = new QToolButton(this);
    column->addWidget(header_);
    header_->setText(qvLiteral(title));
    header_->setCheckable(true);
    header_->setArrowType(Qt::RightArrow);
    header_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    header_->setFont(titleFont);
    header_->setAutoRaise(true);
    header_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    header_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; color: %1;"
                                          " text-align: left; padding: 2px 0; }")
                               .arg(QVStyle::primary().name()));
    holder_ = new QWidget(this);
    auto* inner = new QVBoxLayout(holder_);
    inner->setContentsMargins(0, contentGap, 0, 0);
    inner->setSpacing(0);
    if (content) inner->addWidget(content);
    holder_->setVisible(false);
    column->addWidget(holder_);
    connect(header_, &QToolButton::toggled, this, [this](bool on) { setExpanded(on); });
}

void Disclosure::setContent(QWidget* content) { holder_->layout()->addWidget(content); }

QString Disclosure::title() const { return qvShown(header_->text()); }
void Disclosure::setTitle(const QString& title) { header_->setText(qvLiteral(title)); }
bool Disclosure::expanded() const { return header_->isChecked(); }

void Disclosure::setExpanded(bool expanded) {
    header_->setChecked(expanded);
    header_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    holder_->setVisible(expanded);
}

QString readout(std::optional<double> value, const char* format) {
    if (!value) return QStringLiteral("\u2014");
    return qvFormat(format, *value);
}

void clearLayout(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            // Later, not now: the press that asked for the rebuild may come from inside this widget.
            w->hide();
            w->setParent(nullptr);
            w->deleteLater();
        }
        if (QLayout* l = item->layout()) clearLayout(l);
        delete item;
    }
}

}  // namespace quorvel
