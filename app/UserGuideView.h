#pragma once
// The user guide as the user sees it: a searchable list of the guide's articles and one page per article,
// shown as a modal sheet over the workspace window.
#include <QDialog>
#include <QList>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QToolButton;

namespace quorvel {

class QVCard;
class GuideRow;

// Reads only the guide's fixed articles and changes nothing outside itself: opening or using it stops no
// audio and touches no model object. Main thread only.
//
// Navigation works like a stack of two levels: the list (titled "User Guide", with the search field and
// "Done" in its tool row) and, once a row is chosen, that article's page with a back button. The search
// field belongs to the list and is hidden while a page is open; the list keeps filtering underneath.
// Closing the guide by "Done", Escape or the window's close button forgets the query and the open page,
// so every opening starts from the full list.
class UserGuideView : public QDialog {
    Q_OBJECT
public:
    explicit UserGuideView(QWidget* parent = nullptr);

    // Opens a new guide as a window-modal sheet over `parent` and returns at once. The guide deletes
    // itself when it closes; `finished()` tells the presenting side that it has closed.
    static UserGuideView* present(QWidget* parent);

    // The search text as typed.
    QString query() const;
    // The id of the article whose page is shown, or empty while the list is shown.
    QString openArticleId() const;

public slots:
    // Pushes the page of the article with this id (unknown ids do nothing).
    void openArticle(const QString& id);
    // Returns from an article page to the list.
    void showList();

protected:
    void done(int result) override;

private:
    void applyQuery();
    QWidget* buildListPage();
    QWidget* buildArticlePage(int index);

    QLineEdit* search_ = nullptr;
    QPushButton* doneButton_ = nullptr;
    QToolButton* back_ = nullptr;
    QLabel* navTitle_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QVCard* articlesCard_ = nullptr;
    QVCard* emptyCard_ = nullptr;
    QScrollArea* articleScroll_ = nullptr;
    QList<GuideRow*> rows_;  // one per article, in list order; filtering shows and hides them
    QString openId_;
};

}  // namespace quorvel
