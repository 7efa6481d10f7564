#include "AppHarness.h"

#include <QApplication>
#include <QDir>
#include <QLabel>

#include "AudioHardware.h"
#include "QVStyle.h"

void AppTest::SetUp() {
    QVStyle::apply();
    audio = std::make_shared<VirtualAudioSystem>(std::vector<VirtualDevice>{
        {.name = "Virtual Interface", .inputChannels = 4, .outputChannels = 4}});
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
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

void AppTest::savePng(const QString& name) {
    settle();
    QDir().mkpath(QUORVEL_TEST_OUTPUT_DIR);
    ASSERT_TRUE(view->grab().save(QStringLiteral(QUORVEL_TEST_OUTPUT_DIR "/") + name + QStringLiteral(".png")));
}

QString AppTest::transportStatus() { return view->findChild<QLabel*>(QStringLiteral("transportStatus"))->text(); }
