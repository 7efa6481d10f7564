#include "kit/QVEmpty.h"

#include <QLabel>
#include <QVBoxLayout>

#include "kit/QVIcons.h"
#include "kit/QVStyle.h"

namespace quorvel {

QVEmpty::QVEmpty(const QString& icon, const QString& title, const QString& detail, QWidget* parent)
    : QWidget(parent), icon_(icon) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 32, 0, 32);
    column->setSpacing(12);

    iconLabel_ = new QLabel;
    iconLabel_->setAlignment(Qt::AlignCenter);
    title_ = new QLabel(title);
    title_->setAlignment(Qt::AlignCenter);
    title_->setWordWrap(true);
    QVStyle::setText(title_, QVText::Headline);
    detail_ = new QLabel(detail);
    detail_->setAlignment(Qt::AlignCenter);
    detail_->setWordWrap(true);
    QVStyle::setText(detail_, QVText::Subheadline, QVStyle::secondary());

    column->addWidget(iconLabel_);
    column->addWidget(title_);
    column->addWidget(detail_);
    // An empty detail leaves no line and no gap. Shown only once it has a parent: a label shown before
    // would open as a window of its own and take the activation from the workspace.
    detail_->setVisible(!detail.isEmpty());
    setIconName(icon);
}

QString QVEmpty::title() const { return title_->text(); }
QString QVEmpty::detail() const { return detail_->text(); }

void QVEmpty::setIconName(const QString& icon) {
    icon_ = icon;
    iconLabel_->setPixmap(QVIcons::pixmap(icon_, kIconSize, QVStyle::accent(), devicePixelRatioF()));
}

void QVEmpty::setTitle(const QString& title) { title_->setText(title); }

}  // namespace quorvel
