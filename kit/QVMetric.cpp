#include "kit/QVMetric.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace quorvel {

class QVMetric::ValueLine final : public QWidget {
public:
    ValueLine(const QString& text, const QColor& color) : text_(text), color_(color) {
        setFont(QVStyle::sizedFont(kValueSize, QFont::DemiBold));
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    QString text_;
    QColor color_;

    // No width of its own: metrics side by side share the row evenly, whatever their values, and a long
    // value shrinks and cuts within its share.
    QSize sizeHint() const override { return {0, QFontMetrics(font()).height()}; }
    QSize minimumSizeHint() const override { return {0, QFontMetrics(font()).height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::TextAntialiasing);
        QFont f = font();
        const double natural = QFontMetricsF(f).horizontalAdvance(text_);
        if (natural > width() && natural > 0) {
            const double scale = qMax(kMinScale, width() / natural);
            f.setPixelSize(qMax(1, int(kValueSize * scale)));
        }
        p.setFont(f);
        const QFontMetrics fm(f);
        p.setPen(color_);
        const QString shown = fm.elidedText(text_, Qt::ElideRight, width());
        p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    }
};

QVMetric::QVMetric(const QString& value, const QString& label, const QColor& color, QWidget* parent)
    : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    value_ = new ValueLine(value, color);
    label_ = new QLabel(label);
    QVStyle::setText(label_, QVText::Caption, QVStyle::secondary());
    column->addWidget(value_);
    column->addWidget(label_);
}

QString QVMetric::value() const { return value_->text_; }
QString QVMetric::label() const { return label_->text(); }
QColor QVMetric::color() const { return value_->color_; }

void QVMetric::setValue(const QString& value) {
    if (value == value_->text_) return;
    value_->text_ = value;
    value_->updateGeometry();
    value_->update();
}

void QVMetric::setLabel(const QString& label) { label_->setText(label); }

void QVMetric::setColor(const QColor& color) {
    if (color == value_->color_) return;
    value_->color_ = color;
    value_->update();
}

}  // namespace quorvel
