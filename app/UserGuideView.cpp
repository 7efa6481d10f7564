#include "app/UserGuideView.h"

#include <QAbstractButton>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/QuorvelGuide.h"
#include "kit/QVCard.h"
#include "kit/QVIcons.h"
#include "kit/QVStyle.h"

namespace quorvel {

namespace {

// Sizes are device-independent pixels. The sheet never gets smaller than this.
constexpr int kMinWidth = 640;
constexpr int kMinHeight = 560;
// An article page keeps a readable measure: its column is at most this wide, padding included.
constexpr int kArticleMaxWidth = 760;
constexpr int kArticlePadding = 16;

// A green-blue that reads well on the dark background, for the step numbers.
const QColor kMint(102, 212, 207);

QLabel* makeLabel(const QString& text, QVText role, const QColor& colour, const QString& name) {
    auto* label = new QLabel(text);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    QVStyle::setText(label, role, colour);
    // Inside a button a label would otherwise take the button's text role.
    label->setForegroundRole(QPalette::WindowText);
    return label;
}

void makeSelectable(QLabel* label) {
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setCursor(Qt::IBeamCursor);
}

// A list section: the kit's card with its rows edge to edge.
QVCard* makeSection(const QString& name, int vertical) {
    auto* card = new QVCard;
    card->setObjectName(name);
    card->body()->setContentsMargins(0, vertical, 0, vertical);
    card->body()->setSpacing(0);
    return card;
}

// Makes a scroll area's content take the sheet's background rather than a viewport colour of its own.
void makeTransparent(QScrollArea* scroll) {
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->viewport()->setAutoFillBackground(false);
    if (scroll->widget()) scroll->widget()->setAutoFillBackground(false);
}

}  // namespace

// One row of the article list: the title over the summary. A button so that it takes focus and opens
// from the keyboard as well as by a click; it keeps no selection.
class GuideRow : public QAbstractButton {
public:
    GuideRow(const GuideArticle& article, QWidget* parent) : QAbstractButton(parent), id_(article.id) {
        setObjectName(QStringLiteral("guideRow-") + article.id);
        setAccessibleName(article.title);
        setAccessibleDescription(article.summary);
        setFocusPolicy(Qt::StrongFocus);
        setCursor(Qt::PointingHandCursor);
        setAttribute(Qt::WA_Hover);
        QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);

        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(16, 10, 16, 10);
        column->setSpacing(4);
        QLabel* title =
            makeLabel(article.title, QVText::Headline, QVStyle::primary(), QStringLiteral("guideRowTitle"));
        QLabel* summary = makeLabel(article.summary, QVText::Caption, QVStyle::secondary(),
                                    QStringLiteral("guideRowSummary"));
        for (QLabel* label : {title, summary}) {
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
            column->addWidget(label);
        }
    }

    const QString& id() const { return id_; }

    void setDivider(bool shown) {
        if (divider_ == shown) return;
        divider_ = shown;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QRectF area = QRectF(rect()).adjusted(4, 2, -4, -2);
        if (isDown() || underMouse()) {
            QPainterPath path;
            path.addRoundedRect(area, 10, 10);
            painter.fillPath(path, QColor(255, 255, 255, isDown() ? 26 : 13));
        }
        if (hasFocus()) {
            painter.setPen(QPen(QVStyle::accent(), 1.5));
            painter.drawRoundedRect(area, 10, 10);
        }
        if (divider_) {
            painter.setPen(QPen(QColor(255, 255, 255, 20), 1));
            painter.drawLine(QPointF(16, height() - 0.5), QPointF(width() - 16, height() - 0.5));
        }
    }

    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            click();
            return;
        }
        QAbstractButton::keyPressEvent(event);
    }

private:
    QString id_;
    bool divider_ = false;
};

UserGuideView::UserGuideView(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("userGuide"));
    setWindowTitle(QStringLiteral("User Guide"));
    setMinimumSize(kMinWidth, kMinHeight);
    resize(720, 640);
    // The sheet's own background, also where the application's dark palette is not installed.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QVStyle::background());
    setPalette(palette);
    setAutoFillBackground(true);

    // Tool row: back control and title on the leading side, the search field and "Done" on the trailing
    // side, where a window keeps its search field and its confirming action.
    auto* toolbar = new QWidget;
    auto* bar = new QHBoxLayout(toolbar);
    bar->setContentsMargins(14, 10, 14, 10);
    bar->setSpacing(10);

    back_ = new QToolButton;
    back_->setObjectName(QStringLiteral("guideBack"));
    back_->setText(QStringLiteral("User Guide"));
    // The symbol set has no leftward chevron; the rightward one mirrored serves.
    back_->setIcon(QVIcons::pixmap(QStringLiteral("chevron.right"), 32, QVStyle::accent())
                       .transformed(QTransform().scale(-1, 1)));
    back_->setIconSize(QSize(12, 12));
    back_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    back_->setAutoRaise(true);
    back_->setAccessibleName(QStringLiteral("Back to the guide"));
    back_->setStyleSheet(QStringLiteral("QToolButton { color: %1; }").arg(QVStyle::accent().name()));
    back_->hide();
    connect(back_, &QToolButton::clicked, this, &UserGuideView::showList);
    bar->addWidget(back_);

    navTitle_ = makeLabel(QStringLiteral("User Guide"), QVText::Headline, QVStyle::primary(),
                          QStringLiteral("guideNavTitle"));
    navTitle_->setWordWrap(false);
    navTitle_->setFont(QVStyle::sizedFont(16, QFont::Bold));
    bar->addWidget(navTitle_, 1);

    search_ = new QLineEdit;
    search_->setObjectName(QStringLiteral("guideSearch"));
    search_->setPlaceholderText(QStringLiteral("Search setup, controls or troubleshooting"));
    search_->setClearButtonEnabled(true);
    search_->setMinimumWidth(330);
    search_->setAccessibleName(QStringLiteral("Search the guide"));
    search_->addAction(QVIcons::icon(QStringLiteral("magnifyingglass"), QVStyle::secondary()),
                       QLineEdit::LeadingPosition);
    search_->setStyleSheet(QStringLiteral("QLineEdit { background: rgba(255,255,255,18); color: %1;"
                                          " border: 1px solid rgba(255,255,255,26); border-radius: 8px;"
                                          " padding: 5px 8px; }"
                                          "QLineEdit:focus { border-color: %2; }")
                               .arg(QVStyle::primary().name(), QVStyle::accent().name()));
    connect(search_, &QLineEdit::textChanged, this, &UserGuideView::applyQuery);
    bar->addWidget(search_);

    doneButton_ = new QPushButton(QStringLiteral("Done"));
    doneButton_->setObjectName(QStringLiteral("guideDone"));
    // Return in the search field must not close the guide.
    doneButton_->setAutoDefault(false);
    doneButton_->setDefault(false);
    doneButton_->setCursor(Qt::PointingHandCursor);
    doneButton_->setStyleSheet(QStringLiteral("QPushButton { color: %1; background: %2; border: none;"
                                              " border-radius: 8px; padding: 6px 14px; font-weight: 600; }"
                                              "QPushButton:hover { background: %3; }")
                                   .arg(QVStyle::background().name(), QVStyle::accent().name(),
                                        QVStyle::accent().lighter(110).name()));
    connect(doneButton_, &QPushButton::clicked, this, &QDialog::accept);
    bar->addWidget(doneButton_);

    auto* divider = new QFrame;
    divider->setFixedHeight(1);
    divider->setStyleSheet(QStringLiteral("background: rgba(255,255,255,20); border: none;"));

    stack_ = new QStackedWidget;
    stack_->addWidget(buildListPage());
    articleScroll_ = new QScrollArea;
    articleScroll_->setObjectName(QStringLiteral("guideArticleScroll"));
    articleScroll_->setWidgetResizable(true);
    articleScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    makeTransparent(articleScroll_);
    stack_->addWidget(articleScroll_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar);
    layout->addWidget(divider);
    layout->addWidget(stack_, 1);

    auto* backKey = new QShortcut(QKeySequence::Back, this);
    connect(backKey, &QShortcut::activated, this, &UserGuideView::showList);

    applyQuery();
}

UserGuideView* UserGuideView::present(QWidget* parent) {
    auto* guide = new UserGuideView(parent);
    guide->setAttribute(Qt::WA_DeleteOnClose);
    guide->open();
    guide->search_->setFocus();
    return guide;
}

QString UserGuideView::query() const { return search_->text(); }

QString UserGuideView::openArticleId() const { return openId_; }

QWidget* UserGuideView::buildListPage() {
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("guideListScroll"));
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(20, 18, 20, 20);
    column->setSpacing(18);

    // The first section stays for every query.
    QVCard* header = makeSection(QStringLiteral("guideHeaderCard"), 12);
    QVBoxLayout* headerRows = header->body();
    headerRows->setContentsMargins(16, 12, 16, 12);
    headerRows->setSpacing(4);
    headerRows->addWidget(makeLabel(QStringLiteral("Quorvel + Quorvel Pocket"), QVText::Headline,
                                    QVStyle::primary(), QStringLiteral("guideHeaderTitle")));
    headerRows->addWidget(makeLabel(QStringLiteral("Offline guide · local build 0.3"), QVText::Caption,
                                    QVStyle::secondary(), QStringLiteral("guideHeaderCaption")));
    column->addWidget(header);

    articlesCard_ = makeSection(QStringLiteral("guideArticlesCard"), 6);
    QVBoxLayout* rowsLayout = articlesCard_->body();
    for (const GuideArticle& article : QuorvelGuide::articles()) {
        auto* row = new GuideRow(article, articlesCard_);
        const QString id = article.id;
        connect(row, &QAbstractButton::clicked, this, [this, id] { openArticle(id); });
        rowsLayout->addWidget(row);
        rows_.append(row);
    }
    column->addWidget(articlesCard_);

    emptyCard_ = makeSection(QStringLiteral("guideEmptyCard"), 12);
    emptyCard_->body()->setContentsMargins(16, 12, 16, 12);
    emptyCard_->add(makeLabel(QStringLiteral("No matching topic. Try ‘mic’, ‘delay’, ‘music’ or ‘sub’."),
                              QVText::Body, QVStyle::primary(), QStringLiteral("guideEmptyRow")));
    column->addWidget(emptyCard_);
    column->addStretch(1);

    scroll->setWidget(content);
    makeTransparent(scroll);
    return scroll;
}

void UserGuideView::applyQuery() {
    const QList<GuideArticle> found = QuorvelGuide::matching(search_->text());
    GuideRow* last = nullptr;
    for (GuideRow* row : rows_) {
        bool shown = false;
        for (const GuideArticle& article : found)
            if (article.id == row->id()) shown = true;
        row->setVisible(shown);
        row->setDivider(shown);
        if (shown) last = row;
    }
    if (last) last->setDivider(false);
    articlesCard_->setVisible(!found.isEmpty());
    emptyCard_->setVisible(found.isEmpty());
}

QWidget* UserGuideView::buildArticlePage(int index) {
    const GuideArticle& article = QuorvelGuide::articles().at(index);

    // The column is centred in the page and never wider than the readable measure; its text stays at the
    // leading edge.
    auto* page = new QWidget;
    auto* centring = new QHBoxLayout(page);
    centring->setContentsMargins(0, 0, 0, 0);
    centring->setSpacing(0);
    auto* columnWidget = new QWidget;
    columnWidget->setObjectName(QStringLiteral("guideArticleColumn"));
    columnWidget->setMaximumWidth(kArticleMaxWidth);
    columnWidget->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    centring->addStretch(0);
    centring->addWidget(columnWidget, 1);
    centring->addStretch(0);

    auto* column = new QVBoxLayout(columnWidget);
    column->setContentsMargins(kArticlePadding, kArticlePadding, kArticlePadding, kArticlePadding);
    column->setSpacing(20);
    column->addWidget(
        makeLabel(article.summary, QVText::Title3, QVStyle::primary(), QStringLiteral("guideSummary")));

    for (int i = 0; i < article.steps.size(); ++i) {
        auto* step = new QHBoxLayout;
        step->setSpacing(12);
        // Bare numbers, no period, in a fixed box so that the step texts line up.
        auto* number =
            makeLabel(QString::number(i + 1), QVText::Headline, kMint, QStringLiteral("guideStepNumber"));
        number->setWordWrap(false);
        number->setFixedWidth(24);
        number->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        QLabel* text =
            makeLabel(article.steps.at(i), QVText::Body, QVStyle::primary(), QStringLiteral("guideStepText"));
        makeSelectable(text);
        step->addWidget(number, 0, Qt::AlignTop);
        step->addWidget(text, 1, Qt::AlignTop);
        column->addLayout(step);
    }

    auto* divider = new QFrame;
    divider->setObjectName(QStringLiteral("guideDivider"));
    divider->setFixedHeight(1);
    divider->setStyleSheet(QStringLiteral("background: rgba(255,255,255,31); border: none;"));
    column->addWidget(divider);

    QLabel* notes =
        makeLabel(article.notes, QVText::Callout, QVStyle::secondary(), QStringLiteral("guideNotes"));
    makeSelectable(notes);
    column->addWidget(notes);
    column->addStretch(1);
    return page;
}

void UserGuideView::openArticle(const QString& id) {
    const QList<GuideArticle>& articles = QuorvelGuide::articles();
    for (int i = 0; i < articles.size(); ++i) {
        if (articles.at(i).id != id) continue;
        openId_ = id;
        articleScroll_->setWidget(buildArticlePage(i));  // deletes the previous page
        makeTransparent(articleScroll_);
        navTitle_->setText(articles.at(i).title);
        back_->show();
        search_->hide();
        stack_->setCurrentWidget(articleScroll_);
        back_->setFocus();
        return;
    }
}

void UserGuideView::showList() {
    if (openId_.isEmpty()) return;
    const QString from = openId_;
    openId_.clear();
    navTitle_->setText(QStringLiteral("User Guide"));
    back_->hide();
    search_->show();
    stack_->setCurrentIndex(0);
    // Back lands on the row it came from, when that row is still listed.
    for (GuideRow* row : rows_)
        if (row->id() == from && row->isVisibleTo(this)) row->setFocus();
}

void UserGuideView::done(int result) {
    // Whatever closes the sheet, the next opening starts with an empty query on the full list.
    showList();
    search_->clear();
    QDialog::done(result);
}

}  // namespace quorvel
