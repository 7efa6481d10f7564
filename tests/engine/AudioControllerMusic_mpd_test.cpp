// Music playback through the player controller on private MPDs that stop or hang in mid-session.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>

#include "PrivateMpd.h"
#include "engine/AudioController.h"
#include "engine/ThreadedMusicService.h"
#include "platform/MpdMusicClient.h"

namespace quorvel {

namespace {

// songs/first-light.wav: 30 s, "First Light" by "Quorvel Test".
MusicTrackRequest firstLight() {
    return MusicTrackRequest{.id = Uuid::generate(),
                             .musicID = "songs/first-light.wav",
                             .libraryMusic = true,
                             .displayTitle = "First Light"};
}

bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 30000); }

PlayerState serverState(const MpdMusicClient::Options& options) {
    auto state = MpdMusicClient(options).playerState();
    return state.ok() ? *state : PlayerState{PlaybackStatus::playing, -1};
}

// A client of the private server, its timeout short yet above the stalls meant to be shorter (1.5 s was not).
constexpr unsigned clientTimeoutMS = 4000;
std::shared_ptr<MpdMusicClient> clientOf(const PrivateMpd& server) {
    return std::make_shared<MpdMusicClient>(
        MpdMusicClient::Options{"127.0.0.1", server.port(), "", clientTimeoutMS});
}

}  // namespace

TEST(AudioControllerMusicServer, StalledHungAndStoppedServersNeverHoldTheTransport) {
    PrivateMpd server;
    ThreadedMusicService service(clientOf(server));
    AudioController controller(AudioController::Setup{.music = &service});
    const MpdMusicClient::Options options{"127.0.0.1", server.port(), "", clientTimeoutMS};
    const auto startFirstLight = [&] {
        controller.playMusic(firstLight());
        ASSERT_TRUE(waitFor([&] { return !controller.busy(); }));
        ASSERT_EQ(controller.status(), "First Light");
    };
    startFirstLight();
    // Stop stops the server's player, not only the page's: well before the 30 s song would end.
    controller.stop();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return serverState(options).status == PlaybackStatus::stopped; }, 15000));
    startFirstLight();
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);

    // A stall below the client's timeout: pause, stop and a new request show at once and arrive in order.
    server.freeze();
    controller.togglePlayback();
    EXPECT_FALSE(controller.playing());
    controller.stop();
    EXPECT_EQ(controller.status(), "Stopped");
    controller.playMusic(firstLight());
    EXPECT_EQ(controller.status(), "Loading First Light…");
    QTest::qWait(400);
    EXPECT_GT(ticks, 5);
    server.thaw();
    ASSERT_TRUE(waitFor([&] { return !controller.busy(); }));
    EXPECT_EQ(controller.status(), "First Light");
    EXPECT_EQ(serverState(options).status, PlaybackStatus::playing);

    // A hung server: the request ends after the timeout, the window alive meanwhile, as no access.
    server.freeze();
    ticks = 0;
    controller.playMusic(firstLight());
    ASSERT_TRUE(waitFor([&] { return !controller.busy(); }));
    EXPECT_GT(ticks, 5);
    EXPECT_EQ(controller.status(), "The music server could not be reached");
    server.thaw();

    // A server killed under the song: the next poll stops the player and says which server stopped;
    // a new request says it cannot be reached.
    startFirstLight();
    server.stop();
    ASSERT_TRUE(waitFor([&] { return !controller.hasPlayback(); }));
    EXPECT_EQ(controller.status(),
              "The music server at 127.0.0.1:" + QString::number(server.port()) + " stopped.");
    EXPECT_FALSE(controller.playing());
    EXPECT_FALSE(controller.isMusicSource());
    controller.playMusic(firstLight());
    ASSERT_TRUE(waitFor([&] { return !controller.busy(); }));
    EXPECT_EQ(controller.status(), "The music server could not be reached");
    controller.stop();
}

// A track added from another server: the fixture's server does not hold its song, and says so. As a library
// track it plays this server's own copy of the recording, found by title and artist.
TEST(AudioControllerMusicServer, ASongFromAnotherServerIsNotOnThisOne) {
    const MpdMusicClient::Options options = MpdMusicClient::fromEnvironment();
    ThreadedMusicService service(std::make_shared<MpdMusicClient>(options));
    AudioController controller(AudioController::Setup{.music = &service});
    Song elsewhere;
    elsewhere.id = "elsewhere/yesterday.wav";
    elsewhere.title = "Yesterday";
    elsewhere.artistName = "The Band";
    elsewhere.playParameters = nlohmann::ordered_json{{"catalogId", elsewhere.id}};
    MusicTrackRequest track{.id = Uuid::generate(),
                            .musicID = QString::fromStdString(elsewhere.id),
                            .libraryMusic = false,
                            .musicPayload = QByteArray::fromStdString(*SongCoding::encode(elsewhere)),
                            .displayTitle = "Yesterday"};
    controller.playMusic(track);
    ASSERT_TRUE(waitFor([&] { return !controller.busy(); }));
    EXPECT_EQ(controller.status(),
              QString("This song is not on the music server at 127.0.0.1:%1.").arg(options.port));
    ASSERT_TRUE(controller.errorDetail());
    EXPECT_TRUE(controller.errorDetail()->contains("ACK [50@1] No such directory"))
        << controller.errorDetail()->toStdString();

    track.libraryMusic = true;
    controller.playMusic(track);
    ASSERT_TRUE(waitFor([&] { return !controller.busy(); }));
    EXPECT_EQ(controller.status(), "Yesterday");
    EXPECT_TRUE(controller.playing());
    controller.stop();
    // The other tests expect the server stopped.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return serverState(options).status == PlaybackStatus::stopped; }, 15000));
}

}  // namespace quorvel
