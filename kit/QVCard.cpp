#include "kit/QVCard.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "kit/QVStyle.h"

namespace quorvel {

QVCard::QVCard(const QString& title, QWidget* content, QWidget* parent) : QWidget(parent), title_(title) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    body_ = new QVBoxLayout(this);
    body_->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    body_->setSpacing(kSpacing);
    if (!title.isEmpty()) {
        auto* label = new QLabel(title);
        label->setObjectName(QStringLiteral("qvCardTitle"));
        QVStyle::setText(label, QVText::Headline);
        body_->addWidget(label);
    }
    if (content) add(content);
}

void QVCard::add(QWidget* item, Qt::Alignment alignment) { body_->addWidget(item, 0, alignment); }

void QVCard::addLayout(QLayout* item) { body_->addLayout(item); }

void QVCard::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // Half-pixel inset so the 1 px outline falls on whole pixels.
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(box, kRadius, kRadius);
    p.fillPath(shape, QVStyle::card());
    p.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.045f), 1));
    p.drawPath(shape);
}

}  // namespace quorvel
