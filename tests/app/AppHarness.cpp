#include "AppHarness.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTest>

#include "engine/AudioHardware.h"
#include "kit/QVStyle.h"

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

void AppTest::savePng(const QString& name) { savePicture(view.get(), name); }

void savePicture(QWidget* widget, const QString& name) {
    AppTest::settle();
    QDir().mkpath(QUORVEL_TEST_OUTPUT_DIR);
    EXPECT_TRUE(widget->grab().save(QStringLiteral(QUORVEL_TEST_OUTPUT_DIR "/") + name + ".png"));
}

QString AppTest::transportStatus() { return view->findChild<QLabel*>("transportStatus")->text(); }

bool waitUntil(const std::function<bool()>& done, double seconds) {
    return QTest::qWaitFor(done, int(seconds * 1000));
}

}  // namespace quorvel
