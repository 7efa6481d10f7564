#include "ScreenTestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QWidget>

#include "TestHome.h"

namespace ScreenTestFiles {

QString freshDir(const QString& label) { return QString::fromStdString(TestHome::freshDir(label.toStdString())); }

QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeLibrary(const QString& dir, const QList<ReferencePlaylist>& playlists) {
    auto bytes = ReferencePlaylist::encodeList(playlists);
    ASSERT_TRUE(bytes.ok());
    QFile file(dir + "/playlists.json");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(*bytes) == bytes->size());
}

ReferenceTrack local(const QString& title) {
    return ReferenceTrack{.title = title, .filename = QString::fromStdString(Uuid::generate().toString()) + ".wav"};
}

QString savePng(QWidget& widget, const QString& name) {
    QDir().mkpath(QUORVEL_TEST_OUTPUT_DIR);
    const QString path = QStringLiteral(QUORVEL_TEST_OUTPUT_DIR "/") + name + ".png";
    EXPECT_TRUE(widget.grab().save(path)) << path.toStdString();
    return path;
}

void blockSaves(const QString& dir) {
    QFile::remove(dir + "/playlists.json");
    ASSERT_TRUE(QDir().mkpath(dir + "/playlists.json/blocked"));
}

}  // namespace ScreenTestFiles
