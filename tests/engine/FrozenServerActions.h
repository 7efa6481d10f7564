#pragma once
// What the user does on a sound server that stops answering (stopped where it is, as a hung driver or a
// server stuck in a kernel call leaves it): Start mic, Play on the Signals and Player pages, a channel
// check's spoken ID, and a routed play, each through the model the page calls. Each call returns to the
// event loop at once, its status names the server within one call's deadline (five seconds, with room for a
// loaded machine), and once the server goes on, the same action works. `frozenFirst`: the server stops before
// the models and the audio system are made, as when it hung before the window opened.
#include <gtest/gtest.h>

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeMusicService.h"
#include "ToneFile.h"
#include "Waits.h"
#include "engine/AudioController.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "engine/RoutedSignal.h"
#include "platform/LinuxAudioSystem.h"

namespace quorvel::FrozenServerActions {

struct Action {
    const char* name;
    std::function<void()> start;
    std::function<QString()> status;
    std::function<bool()> sounding;
    std::function<void()> stop;
};

// `freeze(true)` stops the server, `freeze(false)` lets it go on; `sentence` is what the status must read.
inline void check(const std::function<void(bool)>& freeze, const std::string& sentence, bool frozenFirst) {
    using namespace std::chrono_literals;
    QSettings("Quorvel", "Quorvel").remove(InterfacePicker::settingsKey);
    if (frozenFirst) freeze(true);
    // The application's audio system: every sound system, the frozen server's first.
    AudioHardware::install(std::make_shared<LinuxAudioSystem>());
    if (!frozenFirst) {
        ASSERT_TRUE(AudioHardware::system().devices());  // the window has listed the devices
        freeze(true);
    }
    QTemporaryDir root;
    writeTone(QDir(root.path()).filePath("tone.wav"), 4);
    LocalTrackRequest track{.title = "Tone", .filename = "tone.wav"};
    FakeMusicService music;
    AudioController player(AudioController::Setup{.clock = {}, .music = &music});
    MicAnalyzer analyser;
    RoutedSignal routed;
    const SignalSettings pink{.kind = SignalKind::pink, .seconds = 2};
    // Each spoken ID is a file the player takes over and deletes: one copy per play.
    int voices = 0;
    auto voice = [&] {
        const QString path = QDir(root.path()).filePath(QString("voice-%1.wav").arg(++voices));
        writeTone(path, 1);
        return path;
    };
    const std::vector<Action> actions{
        {"Start mic", [&] { analyser.start(); }, [&] { return analyser.status(); },
         [&] { return analyser.running(); }, [&] { analyser.stop(); }},
        {"Play on Signals", [&] { player.playSignal(pink); }, [&] { return player.status(); },
         [&] { return player.playing(); }, [&] { player.stop(); }},
        {"Play on Player", [&] { player.playTrack(track, root.path()); }, [&] { return player.status(); },
         [&] { return player.playing(); }, [&] { player.stop(); }},
        {"A channel check's spoken ID", [&] { player.playVoice(voice()); }, [&] { return player.status(); },
         [&] { return player.playing(); }, [&] { player.stop(); }},
        {"Routed play", [&] { routed.play(pink); }, [&] { return routed.status(); },
         [&] { return routed.isPlaying(); }, [&] { routed.stop(); }},
    };
    for (const Action& a : actions) {
        SCOPED_TRACE(a.name);
        const auto returned = timeOf(a.start);
        EXPECT_LT(returned, 1s) << "the call waited on the server";
        EXPECT_TRUE(QTest::qWaitFor([&] { return a.status().toStdString() == sentence; }, 6500))
            << a.status().toStdString();
        a.stop();
    }
    freeze(false);
    ASSERT_TRUE(pollUntil([] { return AudioHardware::system().notResponding().empty(); }, 60s));
    for (const Action& a : actions) {
        SCOPED_TRACE(a.name);
        a.start();
        EXPECT_TRUE(QTest::qWaitFor(a.sounding, 20000)) << a.status().toStdString();
        a.stop();
    }
    QThreadPool::globalInstance()->waitForDone();
}

}  // namespace quorvel::FrozenServerActions
