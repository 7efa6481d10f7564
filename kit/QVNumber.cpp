#include "kit/QVNumber.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "kit/QVStyle.h"

namespace quorvel {

namespace {

constexpr int kPadding = 12;
constexpr int kRadius = 12;

// The field asks for 75 px and accepts 40 to 100.
class NumberField final : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    QSize sizeHint() const override { return {75, QLineEdit::sizeHint().height()}; }
    QSize minimumSizeHint() const override { return {40, QLineEdit::minimumSizeHint().height()}; }
};

}  // namespace

QVNumber::QVNumber(const QString& title, QVBinding<double> value, const QString& unit, QWidget* parent)
    : QWidget(parent), title_(title), unit_(unit), value_(std::move(value)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kPadding, kPadding, kPadding, kPadding);

    auto* titleLabel = new QLabel(title);
    QVStyle::setText(titleLabel, QVText::Subheadline);
    row->addWidget(titleLabel);
    row->addSpacing(8);
    row->addStretch(1);

    field_ = new NumberField;
    field_->setObjectName(QStringLiteral("qvNumberField"));
    field_->setFrame(false);
    field_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    field_->setPlaceholderText(title);
    field_->setMinimumWidth(40);
    field_->setMaximumWidth(100);
    field_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    QVStyle::setText(field_, QVText::Body);
    QPalette pal = field_->palette();
    pal.setColor(QPalette::Base, Qt::transparent);
    pal.setColor(QPalette::PlaceholderText, QVStyle::secondary());
    field_->setPalette(pal);
    row->addWidget(field_);

    auto* unitLabel = new QLabel(unit);
    unitLabel->setMinimumWidth(20);
    QVStyle::setText(unitLabel, QVText::Caption, QVStyle::secondary());
    row->addWidget(unitLabel);

    connect(field_, &QLineEdit::editingFinished, this, &QVNumber::commit);
    refresh();
}

QString QVNumber::display(double value, const QLocale& locale) {
    if (!std::isfinite(value)) return locale.toString(value);
    QString text = locale.toString(value, 'f', 2);
    const QString point = locale.decimalPoint();
    const QString zero = locale.zeroDigit();
    if (text.contains(point)) {
        while (text.endsWith(zero)) text.chop(zero.size());
        if (text.endsWith(point)) text.chop(point.size());
    }
    // A negative value that rounds to nothing reads as a plain zero.
    if (text == locale.negativeSign() + zero) text = zero;
    return text;
}

std::optional<double> QVNumber::parse(const QString& text, const QLocale& locale) {
    bool ok = false;
    const double v = locale.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

void QVNumber::refresh() {
    if (field_->hasFocus() && field_->isModified()) return;
    show(value_.get ? value_.get() : 0.0);
}

void QVNumber::show(double value) {
    // setText clears the field's modified flag: what it shows now is ours, not the user's.
    field_->setText(display(value, locale()));
}

void QVNumber::commit() {
    // Only text the user typed goes back: the shown text is rounded to two digits, and committing it
    // unedited would quietly round the stored value (12.345 would become 12.35).
    if (!field_->isModified()) return;
    const double current = value_.get ? value_.get() : 0.0;
    if (field_->text() == display(current, locale())) {
        field_->setModified(false);  // typed back to what was shown: nothing changed
        return;
    }
    const std::optional<double> v = parse(field_->text(), locale());
    if (v && value_.set) {
        value_.set(*v);
        show(value_.get ? value_.get() : *v);
        emit committed(*v);
    } else {
        show(current);  // unreadable text: show the unchanged value again
    }
}

void QVNumber::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LocaleChange) {
        field_->setLocale(locale());
        refresh();
    }
    QWidget::changeEvent(event);
}

void QVNumber::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), kRadius, kRadius);
    p.fillPath(shape, QColor::fromRgbF(1, 1, 1, 0.045f));
}

}  // namespace quorvel
