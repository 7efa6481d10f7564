#include "ScreenTesting.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>

#include "QVStyle.h"

namespace ScreenTesting {

void useWorkspaceStyle() {
    static bool applied = false;
    if (applied) return;
    applied = true;
    QVStyle::apply();
}

QImage savePng(QWidget* widget, const QString& name, QSize size) {
    widget->resize(size);
    widget->show();
    settle();
    const QImage image = widget->grab().toImage();
    QDir().mkpath(QStringLiteral(QUORVEL_TEST_OUTPUT_DIR));
    image.save(QStringLiteral(QUORVEL_TEST_OUTPUT_DIR "/") + name);
    return image;
}

QStringList texts(const QWidget* root, const QString& objectName) {
    QStringList out;
    for (const QLabel* label : root->findChildren<QLabel*>(objectName))
        if (label->isVisibleTo(root->window())) out << label->text();
    return out;
}

bool showsText(const QWidget* root, const QString& text) {
    for (const QLabel* label : root->findChildren<QLabel*>())
        if (label->text() == text && label->isVisibleTo(root->window())) return true;
    return false;
}

float noise(std::int64_t frame) {
    std::uint64_t z = static_cast<std::uint64_t>(frame) + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<float>((static_cast<double>(z >> 11) / 9007199254740992.0 * 2.0 - 1.0) * 0.3);
}

void settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace ScreenTesting
