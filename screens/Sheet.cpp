#include "screens/Sheet.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "kit/QVFormat.h"
#include "kit/QVKeyboard.h"
#include "kit/QVPage.h"
#include "kit/QVStyle.h"

namespace quorvel {

Sheet::Sheet(QVPage* page, QSize minimumSize, QWidget* parent) : QDialog(parent), page_(page) {
    setModal(true);
    QVKeyboard::followLayoutOrder(this);
    setMinimumSize(minimumSize);
    resize(minimumSize);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QVStyle::background());
    setPalette(pal);
    setAutoFillBackground(true);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    bar_ = new QHBoxLayout;
    // Clear of the sheet's top edge and of the page below, with room for the focus ring around a button.
    bar_->setContentsMargins(12, 10, 12, 6);
    bar_->addStretch(1);
    column->addLayout(bar_);
    column->addWidget(page_, 1);
}

QPushButton* Sheet::addCancel(const QString& title) {
    auto* button = new QPushButton(qvLiteral(title));
    button->setFlat(true);
    button->setAutoDefault(false);
    QVStyle::setText(button, QVText::Body, QVStyle::accent());
    connect(button, &QPushButton::clicked, this, &QDialog::reject);
    bar_->insertWidget(0, button);
    return button;
}

QPushButton* Sheet::addConfirm(const QString& title) {
    auto* button = new QPushButton(qvLiteral(title));
    button->setFlat(true);
    button->setAutoDefault(false);
    QVStyle::setText(button, QVText::Body, QVStyle::accent(), QFont::DemiBold);
    connect(button, &QPushButton::clicked, this, &QDialog::accept);
    bar_->addWidget(button);
    return button;
}

void Sheet::showEvent(QShowEvent* event) {
    // A dialog makes every push button a Return target; in a sheet Return belongs to the focused field.
    for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(false);
    QDialog::showEvent(event);
}

}  // namespace quorvel
