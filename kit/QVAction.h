#pragma once
// A main action: a full-width button at least 48 px high whose face is a symbol and a title, centred, on
// a rounded fill (radius 14). Prominent: background-coloured face on the accent colour; plain: primary
// text on white at 7 %. Runs `action` on every press. Whether it is enabled is the screen's business.
// Main thread only.
#include <QAbstractButton>
#include <QString>
#include <functional>

namespace quorvel {

class QVAction : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int kMinHeight = 48;
    static constexpr int kRadius = 14;

    QVAction(const QString& title, const QString& icon, bool prominent = true,
             std::function<void()> action = {}, QWidget* parent = nullptr);

    QString title() const;
    void setTitle(const QString& title);
    // The symbol name (see QVIcons).
    QString iconName() const { return iconName_; }
    void setIconName(const QString& icon);
    bool prominent() const { return prominent_; }
    void setProminent(bool prominent);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    QString iconName_;
    bool prominent_;
    bool hovered_ = false;
    std::function<void()> action_;
};

}  // namespace quorvel
