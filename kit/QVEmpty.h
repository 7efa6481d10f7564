#pragma once
// An empty state: a large accent-coloured symbol, a headline title and an optional detail line, centred,
// with 32 px above and below. Main thread only.
#include <QString>
#include <QWidget>

class QLabel;

namespace quorvel {

class QVEmpty : public QWidget {
    Q_OBJECT
public:
    static constexpr int kIconSize = 40;

    QVEmpty(const QString& icon, const QString& title, const QString& detail = {}, QWidget* parent = nullptr);

    QString iconName() const { return icon_; }
    QString title() const;
    QString detail() const;
    void setIconName(const QString& icon);
    void setTitle(const QString& title);

private:
    QString icon_;
    QLabel* iconLabel_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* detail_ = nullptr;
};

}  // namespace quorvel
