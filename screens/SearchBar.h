#pragma once
// A search row: magnifying glass, a plain text field and an optional trailing item, inset 12 px on a
// card-coloured rounded rectangle (radius 12). Main thread only.
#include <QWidget>

class QLineEdit;

namespace quorvel {

class SearchBar : public QWidget {
    Q_OBJECT
public:
    // `spacing` < 0 keeps the layout's default.
    SearchBar(const QString& placeholder, QWidget* trailing = nullptr, int spacing = -1,
              QWidget* parent = nullptr);

    QLineEdit* field() const { return field_; }
    // Adds an item after the field (and after those added before).
    void addTrailing(QWidget* item);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QLineEdit* field_;
};

}  // namespace quorvel
