// The Player page end to end on the fixture's JACK server: files chosen in the importer (two WAV files and
// an M3U playlist) become tracks, one plays on the qv-sixtyfour test interface, whose capture returns what
// it plays, and the page's Now playing card, position slider and the transport's stop follow the player.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QSlider>
#include <QTest>
#include <QThreadPool>
#include <QToolButton>
#include <atomic>
#include <cmath>

#include "AppHarness.h"
#include "TestHome.h"
#include "engine/AudioController.h"
#include "engine/AudioHardware.h"
#include "kit/QVCard.h"
#include "kit/QVStyle.h"
#include "kit/RoutePicker.h"
#include "library/LibraryStore.h"
#include "platform/RtAudioSystem.h"
#include "screens/ReferencePlayerView.h"
#include "screens/RowList.h"

namespace quorvel {

namespace {

std::uint32_t outputID(const QString& name) {
    for (const RouteOutput& o : RoutePicker::systemOutputs())
        if (o.name == name) return o.id;
    return 0;
}

}  // namespace

TEST(PlayerEndToEnd, ImportedTrackPlaysSeeksAndStopsFromTheTransport) {
    qputenv("MPD_HOST", "127.0.0.1");
    qputenv("MPD_PORT", "1");  // no music server: nothing here needs one
    QVStyle::apply();
    const auto previous =
        AudioHardware::install(std::make_shared<RtAudioSystem>(std::vector<std::string>{"jack"}));
    const std::uint32_t device = outputID("qv-sixtyfour");
    ASSERT_NE(device, 0u);
    RoutePicker::store(device, "qv-sixtyfour");

    // What the interface plays comes back on its capture channels; the recorder keeps the loudest sample.
    std::atomic<float> peak{0};
    auto recorder = AudioHardware::system().makeEngine();
    ASSERT_EQ(recorder->bindInput(device), 0);
    recorder->installTap([&peak](const AudioInputBlock& b) {
        if (!b.channels) return;
        float loudest = peak.load(std::memory_order_relaxed);
        for (int c = 0; c < 2 && c < b.channelCount; ++c)
            for (std::int64_t i = 0; i < b.frameCount; ++i)
                loudest = std::max(loudest, std::fabs(b.channels[c][i]));
        peak.store(loudest, std::memory_order_relaxed);
    });
    ASSERT_TRUE(recorder->start());

    const QString source = QString::fromStdString(TestHome::freshDir("chosen"));
    writeTone(source + "/Kick Test.wav", 6);
    writeTone(source + "/Vocal Check.wav", 1);
    writeTone(source + "/Outro.wav", 1);
    {
        QFile m3u(source + "/Set.m3u8");
        ASSERT_TRUE(m3u.open(QIODevice::WriteOnly));
        m3u.write("#EXTM3U\nOutro.wav\n");
    }

    {
        QuorvelView view;
        view.setFileChooser([&](QWidget*) -> Result<QStringList> {
            return QStringList{source + "/Kick Test.wav", source + "/Vocal Check.wav", source + "/Set.m3u8"};
        });
        view.resize(QuorvelView::kMinWidth, QuorvelView::kMinHeight);
        view.show();
        auto* player = view.findChild<ReferencePlayerView*>();
        ASSERT_NE(player, nullptr);

        // Add ▸ Audio files / M3U goes through the root view's importer.
        for (QAction* a : player->addButton()->menu()->actions())
            if (a->text() == "Audio files / M3U") a->trigger();
        ASSERT_TRUE(waitUntil([&] { return player->shownTracks().size() == 3; }))
            << view.library().message().toStdString();
        EXPECT_EQ(view.library().message(), "Import complete");
        EXPECT_EQ(player->shownTracks()[2].title, "Outro");
        EXPECT_FALSE(view.importing());

        AudioController& audio = view.audio();
        const QRect row = player->rows()->rowRect(0);
        QTest::mouseClick(player->rows()->viewport(), Qt::LeftButton, {},
                          QPoint(row.left() + 30, row.center().y()));
        ASSERT_TRUE(waitUntil([&] { return audio.playing() && !player->nowPlaying()->isHidden(); }))
            << audio.status().toStdString();
        EXPECT_EQ(player->statusLine()->text(), "Kick Test");
        EXPECT_EQ(player->durationLabel()->text(), "0:06");

        // The card follows the playback clock: past `from`, it shows the controller's whole seconds. Not a
        // fixed label: a loaded machine may hold the event loop past the second the label was in.
        auto showsClock = [&](double from) {
            const double now = audio.currentTime();
            return now >= from &&
                   player->currentTimeLabel()->text() ==
                       QStringLiteral("0:%1").arg(static_cast<int>(now), 2, 10, QLatin1Char('0'));
        };
        ASSERT_TRUE(waitUntil([&] { return showsClock(1); }, 10));
        EXPECT_GE(player->positionSlider()->value(), ReferencePlayerView::kPositionSteps);
        EXPECT_GT(peak.load(), 0.005f);  // the tone's 0.25 at the player's −30 dB: about 0.008

        // A drag seeks; playback goes on from there.
        QSlider* slider = player->positionSlider();
        slider->setSliderDown(true);
        slider->setSliderPosition(4 * ReferencePlayerView::kPositionSteps);
        slider->setSliderDown(false);
        EXPECT_NEAR(audio.currentTime(), 4.0, 0.05);
        ASSERT_TRUE(waitUntil([&] { return showsClock(4); }, 5));
        ASSERT_TRUE(waitUntil([&] { return audio.currentTime() > 4.2; }, 5));

        // The transport's stop ends it; the card goes.
        QToolButton* stop = nullptr;
        for (auto* b : view.findChildren<QToolButton*>())
            if (b->accessibleName() == "Stop playback") stop = b;
        ASSERT_NE(stop, nullptr);
        stop->click();
        EXPECT_FALSE(audio.playing());
        EXPECT_TRUE(player->nowPlaying()->isHidden());
        EXPECT_EQ(view.findChild<QLabel*>(QStringLiteral("transportStatus"))->text(), "Ready");
    }
    recorder->stop();
    QThreadPool::globalInstance()->waitForDone();
    RoutePicker::store(0, {});
    AudioHardware::install(previous);
}

}  // namespace quorvel
