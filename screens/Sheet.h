#pragma once
// A modal sheet: a dialog on the workspace background with a slim navigation bar on top (a cancellation
// button at its leading end, a confirmation button at its trailing end, either optional) and one page
// below it. Closing the sheet by the window's own means (Escape, the close button) rejects it, as the
// cancellation button does. Return never presses a button of the sheet by itself: a text field's
// Return belongs to the field. Main thread only.
#include <QDialog>
#include <QString>

class QHBoxLayout;
class QPushButton;

namespace quorvel {

class QVPage;

class Sheet : public QDialog {
    Q_OBJECT
public:
    Sheet(QVPage* page, QSize minimumSize, QWidget* parent = nullptr);

    // Adds the bar's cancellation button (leading; rejects the sheet) or its confirmation button
    // (trailing; accepts it).
    QPushButton* addCancel(const QString& title);
    QPushButton* addConfirm(const QString& title);

    QVPage* page() const { return page_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QVPage* page_;
    QHBoxLayout* bar_;
};

}  // namespace quorvel
