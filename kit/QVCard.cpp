#include "kit/QVCard.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
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

namespace {

// The card's face: the panel with its outline, as every card draws it, at `size`.
void paintFace(QPainter& p, const QSizeF& size) {
    p.setRenderHint(QPainter::Antialiasing);
    // Half-pixel inset so the 1 px outline falls on whole pixels.
    const QRectF box = QRectF(QPointF(0, 0), size).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(box, QVCard::kRadius, QVCard::kRadius);
    p.fillPath(shape, QVStyle::card());
    p.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.045f), 1));
    p.drawPath(shape);
}

// A corner of the face with its smoothed edge, and the smallest face that holds four of them with one
// pixel of straight edge between them.
constexpr int kCorner = QVCard::kRadius + 1;
constexpr int kSmallest = 2 * kCorner + 1;

// The smallest face on transparency, drawn once per pixel ratio.
QPixmap smallestFace(qreal dpr) {
    const QString key = QStringLiteral("qvCardFace/%1").arg(dpr);
    QPixmap face;
    if (QPixmapCache::find(key, &face)) return face;
    QImage image(QSize(kSmallest, kSmallest) * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    paintFace(p, QSizeF(kSmallest, kSmallest));
    p.end();
    face = QPixmap::fromImage(image);
    QPixmapCache::insert(key, face);
    return face;
}

}  // namespace

// A large card's face costs the painter's smoothing over its whole area: the face is pieced together
// instead from the smallest face, whose corners and straight edges are those of every card (its edges
// repeated along the card's), around a plain fill. The same pixels, at a fraction of the cost.
void QVCard::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int w = width(), h = height();
    if (w < kSmallest || h < kSmallest) {
        paintFace(p, QSizeF(size()));
        return;
    }
    // The pixel ratio of what is painted on: the widget's, or that of the image it is rendered into.
    const QPixmap face = smallestFace(p.deviceTransform().m11());
    const qreal dpr = face.devicePixelRatio();
    const auto piece = [&](qreal x, qreal y, qreal width, qreal height, qreal fromX, qreal fromY,
                           qreal fromWidth, qreal fromHeight) {
        p.drawPixmap(QRectF(x, y, width, height), face,
                     QRectF(fromX * dpr, fromY * dpr, fromWidth * dpr, fromHeight * dpr));
    };
    const int inner = kSmallest - kCorner;  // where the far corners start in the smallest face
    const int middleW = w - 2 * kCorner, middleH = h - 2 * kCorner;
    piece(0, 0, kCorner, kCorner, 0, 0, kCorner, kCorner);
    piece(w - kCorner, 0, kCorner, kCorner, inner, 0, kCorner, kCorner);
    piece(0, h - kCorner, kCorner, kCorner, 0, inner, kCorner, kCorner);
    piece(w - kCorner, h - kCorner, kCorner, kCorner, inner, inner, kCorner, kCorner);
    piece(kCorner, 0, middleW, kCorner, kCorner, 0, 1, kCorner);
    piece(kCorner, h - kCorner, middleW, kCorner, kCorner, inner, 1, kCorner);
    piece(0, kCorner, kCorner, middleH, 0, kCorner, kCorner, 1);
    piece(w - kCorner, kCorner, kCorner, middleH, inner, kCorner, kCorner, 1);
    p.fillRect(QRect(kCorner, kCorner, middleW, middleH), QVStyle::card());
}

}  // namespace quorvel
