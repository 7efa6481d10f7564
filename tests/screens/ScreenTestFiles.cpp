#include "ScreenTestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <cmath>

#include "TestHome.h"
#include "platform/AudioFile.h"

namespace quorvel {

namespace ScreenTestFiles {

QString freshDir(const QString& label) {
    return QString::fromStdString(TestHome::freshDir(label.toStdString()));
}

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
    return ReferenceTrack{.title = title,
                          .filename = QString::fromStdString(Uuid::generate().toString()) + ".wav"};
}

void writeTone(const QString& path, double seconds) {
    constexpr double rate = 48000;
    const auto frames = static_cast<std::int64_t>(seconds * rate);
    AudioBuffer buffer(*AudioFormat::standard(rate, 2), frames);
    for (std::int64_t i = 0; i < frames; ++i)
        buffer.channel(0)[i] = buffer.channel(1)[i] =
            float(0.1 * std::sin(2 * M_PI * 440 * double(i) / rate));
    buffer.setFrameLength(frames);
    auto writer = AudioFileWriter::create(path.toStdString(), buffer.format());
    ASSERT_TRUE(writer && writer->write(buffer) && writer->close()) << path.toStdString();
}

void blockSaves(const QString& dir) {
    QFile::remove(dir + "/playlists.json");
    ASSERT_TRUE(QDir().mkpath(dir + "/playlists.json/blocked"));
}

}  // namespace ScreenTestFiles

}  // namespace quorvel
