#pragma once
// A labelled number field: title, flexible gap, a right-aligned borderless field and the unit, on a
// rounded row (radius 12). The field shows the bound value in the widget's locale with 0–2 fraction
// digits. Only text the user has edited is committed (on Return or when the field loses focus): moving
// focus through the field never rewrites the bound value with its rounded display. Text that does not
// read as a finite number leaves the value as it was. No range checks: ranges are the screens' business.
// Main thread only.
#include <QLocale>
#include <QString>
#include <QWidget>
#include <optional>

#include "kit/QVBinding.h"

class QLabel;
class QLineEdit;

namespace quorvel {

class QVNumber : public QWidget {
    Q_OBJECT
public:
    QVNumber(const QString& title, QVBinding<double> value, const QString& unit, QWidget* parent = nullptr);

    // Shows the bound value again after its owner changed it; an edit in progress is left alone.
    void refresh();

    QString title() const { return title_; }
    QString unit() const { return unit_; }
    QLineEdit* field() const { return field_; }

    // The field's text for `value`: the locale's decimal form with at most two fraction digits and no
    // trailing zeros (20 → "20", 0.5 → "0.5", 1.234 → "1.23"; never "-0").
    static QString display(double value, const QLocale& locale);
    // Reads typed text in the locale's format; empty when it is not a finite number.
    static std::optional<double> parse(const QString& text, const QLocale& locale);

signals:
    // After an edit was committed to the binding.
    void committed(double value);

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent*) override;

private:
    void commit();
    void show(double value);

    QString title_;
    QString unit_;
    QVBinding<double> value_;
    QLineEdit* field_ = nullptr;
};

}  // namespace quorvel
