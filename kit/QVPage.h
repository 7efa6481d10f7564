#pragma once
// A screen's page: a vertically scrolling column holding a large title, an optional subtitle and the
// page's blocks (usually QVCards), 18 px apart, padded 20 px, at most 1000 px wide and centred in wider
// windows, on the workspace background. Main thread only.
#include <QScrollArea>
#include <QString>

class QVBoxLayout;

namespace quorvel {

class QVPage : public QScrollArea {
    Q_OBJECT
public:
    static constexpr int kMaxWidth = 1000;  // padding included
    static constexpr int kPadding = 20;
    static constexpr int kSpacing = 18;

    // `content`, when given, is the first block below the header; more follow through add().
    explicit QVPage(const QString& title, const QString& subtitle = {}, QWidget* content = nullptr,
                    QWidget* parent = nullptr);

    // Appends a block below the previous ones. `alignment` as for QBoxLayout (empty: full width).
    void add(QWidget* block, Qt::Alignment alignment = {});
    void addLayout(QLayout* block);

    QString title() const { return title_; }
    QString subtitle() const { return subtitle_; }
    // The padded column that holds header and blocks.
    QWidget* column() const { return column_; }

private:
    QString title_;
    QString subtitle_;
    QWidget* column_ = nullptr;
    QVBoxLayout* blocks_ = nullptr;
};

}  // namespace quorvel
