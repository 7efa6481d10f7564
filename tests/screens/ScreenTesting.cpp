#include "ScreenTesting.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>

#include "kit/QVStyle.h"

namespace quorvel {

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

void settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace ScreenTesting

}  // namespace quorvel
