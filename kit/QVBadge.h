#pragma once
// A status tag: short caption text in a colour, on a capsule of the same colour at 12 % opacity. Takes
// only the room its text needs. Main thread only.
#include <QColor>
#include <QString>
#include <QWidget>

#include "kit/QVStyle.h"

namespace quorvel {

class QVBadge : public QWidget {
    Q_OBJECT
public:
    explicit QVBadge(const QString& title, const QColor& color = QVStyle::accent(),
                     QWidget* parent = nullptr);

    QString title() const { return title_; }
    QColor color() const { return color_; }
    void setTitle(const QString& title);
    void setColor(const QColor& color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString title_;
    QColor color_;
};

}  // namespace quorvel
