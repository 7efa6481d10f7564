#include "kit/QVPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "kit/QVStyle.h"

namespace quorvel {

namespace {

// Fills the scrolled area with the page background, whatever its size.
class PageBody final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QVStyle::background());
    }
};

}  // namespace

QVPage::QVPage(const QString& title, const QString& subtitle, QWidget* content, QWidget* parent)
    : QScrollArea(parent), title_(title), subtitle_(subtitle) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QVStyle::background());
    setPalette(pal);
    setAutoFillBackground(true);

    auto* body = new PageBody;
    auto* centre = new QHBoxLayout(body);
    centre->setContentsMargins(0, 0, 0, 0);
    centre->setSpacing(0);
    column_ = new QWidget;
    column_->setMaximumWidth(kMaxWidth);
    column_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    // Only the column stretches; once it reaches its maximum the side spacers share what is left.
    centre->addStretch(0);
    centre->addWidget(column_, 1);
    centre->addStretch(0);

    blocks_ = new QVBoxLayout(column_);
    blocks_->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    blocks_->setSpacing(kSpacing);

    auto* header = new QVBoxLayout;
    header->setContentsMargins(0, 4, 0, 0);
    header->setSpacing(4);
    auto* titleLabel = new QLabel(title);
    titleLabel->setObjectName(QStringLiteral("qvPageTitle"));
    QVStyle::setText(titleLabel, QVText::LargeTitle, QVStyle::primary(), QFont::Bold);
    header->addWidget(titleLabel);
    if (!subtitle.isEmpty()) {
        auto* sub = new QLabel(subtitle);
        sub->setObjectName(QStringLiteral("qvPageSubtitle"));
        sub->setWordWrap(true);
        QVStyle::setText(sub, QVText::Subheadline, QVStyle::secondary());
        header->addWidget(sub);
    }
    blocks_->addLayout(header);
    blocks_->addStretch(1);  // keeps the blocks at the top of a tall page

    setWidget(body);
    if (content) add(content);
}

void QVPage::add(QWidget* block, Qt::Alignment alignment) {
    blocks_->insertWidget(blocks_->count() - 1, block, 0, alignment);
}

void QVPage::addLayout(QLayout* block) { blocks_->insertLayout(blocks_->count() - 1, block); }

}  // namespace quorvel
