#include "screens/SearchBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>

#include "kit/QVIcons.h"
#include "kit/QVStyle.h"

namespace quorvel {

SearchBar::SearchBar(const QString& placeholder, QWidget* trailing, int spacing, QWidget* parent)
    : QWidget(parent), field_(new QLineEdit) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    if (spacing >= 0) row->setSpacing(spacing);
    row->addWidget(QVIcons::label(QStringLiteral("magnifyingglass"), 16, QVStyle::secondary()));
    field_->setFrame(false);
    field_->setPlaceholderText(placeholder);
    field_->setClearButtonEnabled(false);
    QVStyle::setText(field_, QVText::Body);
    field_->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; padding: 0; }"));
    row->addWidget(field_, 1);
    if (trailing) row->addWidget(trailing);
}

void SearchBar::addTrailing(QWidget* item) { layout()->addWidget(item); }

void SearchBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 12, 12);
    p.fillPath(path, QVStyle::card());
}

}  // namespace quorvel
