#include "AppHarness.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QThread>
#include <cmath>

#include "engine/AudioHardware.h"
#include "kit/QVStyle.h"
#include "platform/AudioFile.h"

namespace quorvel {

void AppTest::SetUp() {
    // Music requests go to a music server that is certainly not there (never a real one).
    qputenv("MPD_HOST", "127.0.0.1");
    qputenv("MPD_PORT", "1");
    QVStyle::apply();
    audio = std::make_shared<VirtualAudioSystem>(
        std::vector<VirtualDevice>{{.name = "Virtual Interface", .inputChannels = 4, .outputChannels = 4}});
    previous_ = AudioHardware::install(audio);
}

void AppTest::TearDown() {
    view.reset();
    settle();
    AudioHardware::install(previous_);
}

QuorvelView& AppTest::open() {
    view = std::make_unique<QuorvelView>();
    view->resize(QuorvelView::kMinWidth, QuorvelView::kMinHeight);
    view->show();
    settle();
    return *view;
}

void AppTest::settle() {
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents();
        // Outside a running event loop deleteLater() waits for an explicit flush.
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

void AppTest::savePng(const QString& name) {
    settle();
    QDir().mkpath(QUORVEL_TEST_OUTPUT_DIR);
    ASSERT_TRUE(
        view->grab().save(QStringLiteral(QUORVEL_TEST_OUTPUT_DIR "/") + name + QStringLiteral(".png")));
}

QString AppTest::transportStatus() {
    return view->findChild<QLabel*>(QStringLiteral("transportStatus"))->text();
}

void writeTone(const QString& path, double seconds) {
    const auto format = AudioFormat::standard(48000, 2);
    ASSERT_TRUE(format);
    const auto frames = std::int64_t(seconds * 48000);
    AudioBuffer buffer(*format, frames);
    buffer.setFrameLength(frames);
    for (std::int64_t i = 0; i < frames; ++i)
        buffer.channel(0)[i] = buffer.channel(1)[i] =
            float(0.25 * std::sin(2 * M_PI * 1000 * double(i) / 48000));
    auto writer = AudioFileWriter::create(path.toStdString(), *format);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->write(buffer));
    ASSERT_TRUE(writer->close());
}

bool waitUntil(const std::function<bool()>& done, double seconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > qint64(seconds * 1000)) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

}  // namespace quorvel
