#pragma once
// A card: a rounded grey panel (radius 20, 18 px padding) holding an optional headline title and the
// card's body, 14 px apart, as wide as its parent allows. Main thread only.
#include <QString>
#include <QWidget>

class QVBoxLayout;

namespace quorvel {

class QVCard : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRadius = 20;
    static constexpr int kPadding = 18;
    static constexpr int kSpacing = 14;

    explicit QVCard(const QString& title = {}, QWidget* content = nullptr, QWidget* parent = nullptr);

    // Appends to the card's body. `alignment` as for QBoxLayout (empty: full width).
    void add(QWidget* item, Qt::Alignment alignment = {});
    void addLayout(QLayout* item);
    // The body's layout, for screens that arrange the card themselves.
    QVBoxLayout* body() const { return body_; }

    QString title() const { return title_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString title_;
    QVBoxLayout* body_ = nullptr;
};

}  // namespace quorvel
