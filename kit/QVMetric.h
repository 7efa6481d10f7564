#pragma once
// A read-out: a large one-line value (27 px, semibold) in a colour over a caption label. A value too long
// for the width shrinks to 65 % of its size and is then cut with an ellipsis; it never wraps. The value
// arrives already formatted. Main thread only.
#include <QColor>
#include <QString>
#include <QWidget>

#include "kit/QVStyle.h"

class QLabel;

namespace quorvel {

class QVMetric : public QWidget {
    Q_OBJECT
public:
    static constexpr int kValueSize = 27;
    static constexpr double kMinScale = 0.65;

    QVMetric(const QString& value, const QString& label, const QColor& color = QVStyle::accent(),
             QWidget* parent = nullptr);

    QString value() const;
    QString label() const;
    QColor color() const;
    void setValue(const QString& value);
    void setLabel(const QString& label);
    void setColor(const QColor& color);

private:
    class ValueLine;
    ValueLine* value_ = nullptr;
    QLabel* label_ = nullptr;
};

}  // namespace quorvel
