#include "UserGuideView.h"

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

#include "QuorvelGuide.h"

namespace {

// Sizes are device-independent pixels. The sheet never gets smaller than this.
constexpr int kMinWidth = 640;
constexpr int kMinHeight = 560;
// An article page keeps a readable measure: its column is at most this wide, padding included.
constexpr int kArticleMaxWidth = 760;
constexpr int kArticlePadding = 16;

const QColor kBackground = QColor::fromRgbF(0.055f, 0.065f, 0.075f);
const QColor kCard = QColor::fromRgbF(0.105f, 0.12f, 0.135f);
const QColor kAccent = QColor::fromRgbF(0.67f, 0.94f, 0.49f);
const QColor kPrimary(232, 234, 237);
const QColor kSecondary(150, 155, 163);
// A green-blue that reads well on the dark background, for the step numbers.
const QColor kMint(102, 212, 207);

enum class Role { Title3, Headline, Body, Callout, Caption };

QFont roleFont(Role role) {
    QFont font;
    switch (role) {
        case Role::Title3:
            font.setPixelSize(18);
            break;
        case Role::Headline:
            font.setPixelSize(14);
            font.setWeight(QFont::DemiBold);
            break;
        case Role::Body:
            font.setPixelSize(14);
            break;
        case Role::Callout:
            font.setPixelSize(13);
            break;
        case Role::Caption:
            font.setPixelSize(12);
            break;
    }
    return font;
}

QLabel* makeLabel(const QString& text, Role role, const QColor& colour, const QString& name) {
    auto* label = new QLabel(text);
    label->setObjectName(name);
    label->setFont(roleFont(role));
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    // Inside a button a label would otherwise take the button's text role and colour.
    label->setForegroundRole(QPalette::WindowText);
    return label;
}

void makeSelectable(QLabel* label) {
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setCursor(Qt::IBeamCursor);
}

QFrame* makeCard(const QString& name) {
    auto* card = new QFrame;
    card->setObjectName(name);
    card->setStyleSheet(QStringLiteral("QFrame#%1 { background: %2; border: 1px solid rgba(255,255,255,12);"
                                       " border-radius: 14px; }")
                            .arg(name, kCard.name()));
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
        QLabel* title = makeLabel(article.title, Role::Headline, kPrimary, QStringLiteral("guideRowTitle"));
        QLabel* summary =
            makeLabel(article.summary, Role::Caption, kSecondary, QStringLiteral("guideRowSummary"));
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
            painter.setPen(QPen(kAccent, 1.5));
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
    QPalette palette = this->palette();
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base}) palette.setColor(role, kBackground);
    palette.setColor(QPalette::WindowText, kPrimary);
    palette.setColor(QPalette::Text, kPrimary);
    palette.setColor(QPalette::PlaceholderText, kSecondary);
    palette.setColor(QPalette::Highlight, kAccent.darker(160));
    palette.setColor(QPalette::HighlightedText, kPrimary);
    setPalette(palette);
    setAutoFillBackground(true);
    setStyleSheet(
        QStringLiteral("QLabel#guideNavTitle { color: %1; }"
                       "QScrollBar:vertical { background: transparent; width: 10px; margin: 2px; }"
                       "QScrollBar::handle:vertical { background: rgba(255,255,255,56); border-radius: 3px; "
                       "min-height: 32px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
            .arg(kPrimary.name()));

    // Tool row: back control and title on the leading side, the search field and "Done" on the trailing
    // side, where a window keeps its search field and its confirming action.
    auto* toolbar = new QWidget;
    auto* bar = new QHBoxLayout(toolbar);
    bar->setContentsMargins(14, 10, 14, 10);
    bar->setSpacing(10);

    back_ = new QToolButton;
    back_->setObjectName(QStringLiteral("guideBack"));
    back_->setText(QStringLiteral("User Guide"));
    back_->setArrowType(Qt::LeftArrow);
    back_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    back_->setAutoRaise(true);
    back_->setAccessibleName(QStringLiteral("Back to the guide"));
    back_->setStyleSheet(QStringLiteral("QToolButton { color: %1; }").arg(kAccent.name()));
    back_->hide();
    connect(back_, &QToolButton::clicked, this, &UserGuideView::showList);
    bar->addWidget(back_);

    navTitle_ = new QLabel(QStringLiteral("User Guide"));
    navTitle_->setObjectName(QStringLiteral("guideNavTitle"));
    QFont titleFont = roleFont(Role::Headline);
    titleFont.setPixelSize(16);
    titleFont.setWeight(QFont::Bold);
    navTitle_->setFont(titleFont);
    bar->addWidget(navTitle_, 1);

    search_ = new QLineEdit;
    search_->setObjectName(QStringLiteral("guideSearch"));
    search_->setPlaceholderText(QStringLiteral("Search setup, controls or troubleshooting"));
    search_->setClearButtonEnabled(true);
    search_->setMinimumWidth(280);
    search_->setAccessibleName(QStringLiteral("Search the guide"));
    QIcon find = QIcon::fromTheme(QStringLiteral("edit-find"));
    if (!find.isNull()) search_->addAction(find, QLineEdit::LeadingPosition);
    search_->setStyleSheet(QStringLiteral("QLineEdit { background: rgba(255,255,255,18); color: %1;"
                                          " border: 1px solid rgba(255,255,255,26); border-radius: 8px;"
                                          " padding: 5px 8px; }"
                                          "QLineEdit:focus { border-color: %2; }")
                               .arg(kPrimary.name(), kAccent.name()));
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
                                   .arg(kBackground.name(), kAccent.name(), kAccent.lighter(110).name()));
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
    QFrame* header = makeCard(QStringLiteral("guideHeaderCard"));
    auto* headerRows = new QVBoxLayout(header);
    headerRows->setContentsMargins(16, 12, 16, 12);
    headerRows->setSpacing(4);
    headerRows->addWidget(makeLabel(QStringLiteral("Quorvel + Quorvel Pocket"), Role::Headline, kPrimary,
                                    QStringLiteral("guideHeaderTitle")));
    headerRows->addWidget(makeLabel(QStringLiteral("Offline guide · local build 0.3"), Role::Caption,
                                    kSecondary, QStringLiteral("guideHeaderCaption")));
    column->addWidget(header);

    articlesCard_ = makeCard(QStringLiteral("guideArticlesCard"));
    auto* rowsLayout = new QVBoxLayout(articlesCard_);
    rowsLayout->setContentsMargins(0, 4, 0, 4);
    rowsLayout->setSpacing(0);
    for (const GuideArticle& article : QuorvelGuide::articles()) {
        auto* row = new GuideRow(article, articlesCard_);
        const QString id = article.id;
        connect(row, &QAbstractButton::clicked, this, [this, id] { openArticle(id); });
        rowsLayout->addWidget(row);
        rows_.append(row);
    }
    column->addWidget(articlesCard_);

    emptyCard_ = makeCard(QStringLiteral("guideEmptyCard"));
    auto* emptyLayout = new QVBoxLayout(emptyCard_);
    emptyLayout->setContentsMargins(16, 12, 16, 12);
    emptyLayout->addWidget(
        makeLabel(QStringLiteral("No matching topic. Try ‘mic’, ‘delay’, ‘Apple Music’ or ‘sub’."),
                  Role::Body, kPrimary, QStringLiteral("guideEmptyRow")));
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
    column->addWidget(makeLabel(article.summary, Role::Title3, kPrimary, QStringLiteral("guideSummary")));

    QFont numberFont = roleFont(Role::Headline);
    numberFont.setStyleHint(QFont::Monospace, QFont::PreferDefault);
    for (int i = 0; i < article.steps.size(); ++i) {
        auto* step = new QHBoxLayout;
        step->setSpacing(12);
        // Bare numbers, no period, in a fixed box so that the step texts line up.
        auto* number =
            makeLabel(QString::number(i + 1), Role::Headline, kMint, QStringLiteral("guideStepNumber"));
        number->setFont(numberFont);
        number->setWordWrap(false);
        number->setFixedWidth(24);
        number->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        QLabel* text = makeLabel(article.steps.at(i), Role::Body, kPrimary, QStringLiteral("guideStepText"));
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

    QLabel* notes = makeLabel(article.notes, Role::Callout, kSecondary, QStringLiteral("guideNotes"));
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
