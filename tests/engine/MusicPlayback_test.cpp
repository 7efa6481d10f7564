// Music playback through the player on the scripted music service: the test releases every completion.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <cmath>

#include "FakeMusicService.h"
#include "TestHome.h"
#include "ToneFile.h"
#include "engine/AudioController.h"
#include "engine/AudioHardware.h"
#include "engine/MusicSongs.h"
#include "platform/VirtualAudioSystem.h"

namespace quorvel {

namespace {

using Found = Result<std::optional<Song>>;
using Songs = Result<std::vector<Song>>;
using State = Result<PlayerState>;

MusicTrackRequest request(const Song& song, bool library, bool withPayload = false) {
    MusicTrackRequest track{.id = Uuid::generate(),
                            .musicID = QString::fromStdString(song.id),
                            .libraryMusic = library,
                            .displayTitle = QString::fromStdString(song.title)};
    if (withPayload) track.musicPayload = QByteArray::fromStdString(*SongCoding::encode(song));
    return track;
}

struct MusicPlaybackTest : ::testing::Test {
    void SetUp() override {
        // A virtual output, for the local sources that replace a song.
        AudioHardware::install(std::make_shared<VirtualAudioSystem>(
            std::vector<VirtualDevice>{VirtualDevice{.name = "out"}}, 1024));
    }

    FakeMusicService service;
    AudioController controller{AudioController::Setup{.music = &service}};
    Song song = makeSong("songs/first.wav", "First", "Band", std::nullopt, 212.5);
    Song second = makeSong("songs/second.wav", "Second", "Band");

    void grant(bool catalogue = true) {
        service.release("authorization", MusicAuthorizationStatus::authorized);
        service.release("subscription", Result<MusicSubscription>(MusicSubscription{catalogue}));
    }
    // Plays `s` as a catalogue track up to its preparation (released with `prepared` unless absent).
    void playCatalogue(const Song& s, std::optional<Status> prepared = Status()) {
        controller.playMusic(request(s, false));
        grant();
        service.release("catalogSong", Found(std::optional<Song>(s)));
        if (prepared) service.release("prepare", *prepared);
    }
    // Plays `song` as a library track from its payload (no lookup, no catalogue rights needed) to the start.
    void playing() {
        controller.playMusic(request(song, true, true));
        grant(false);
        service.release("prepare", Status());
        service.release("play", Status());
        ASSERT_TRUE(controller.playing());
    }
    // A spoken-ID file starts on the virtual output: a local source replacing the song.
    void playVoice() {
        const QString path = QString::fromStdString(TestHome::freshDir("voice")) + "/voice.wav";
        writeTone(path, 0.1);
        controller.playVoice(path);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !controller.busy(); }, 30000));
        ASSERT_EQ(controller.status(), "Spoken source ID");
    }
    int count(const std::string& entry) const {
        return static_cast<int>(std::count(service.log.begin(), service.log.end(), entry));
    }
    // Log entries from the `from`th on.
    std::vector<std::string> logFrom(std::size_t from) const {
        return {service.log.begin() + static_cast<std::ptrdiff_t>(std::min(from, service.log.size())),
                service.log.end()};
    }
};

}  // namespace

// Each way a request ends short of playing leaves its text and detail, its track selected, nothing busy.
TEST_F(MusicPlaybackTest, RefusalsAndFailuresEndWithTheirTexts) {
    const auto ends = [&](const char* status, std::optional<QString> detail = std::nullopt) {
        EXPECT_EQ(controller.status(), status);
        EXPECT_EQ(controller.errorDetail(), detail);
        EXPECT_FALSE(controller.busy());
        EXPECT_FALSE(controller.playing());
        EXPECT_TRUE(controller.isMusicSource());
    };
    const MusicTrackRequest track = request(song, true);
    controller.playMusic(track);
    service.release("authorization", MusicAuthorizationStatus::unreachable);
    ends("The music server could not be reached");
    EXPECT_FALSE(controller.hasPlayback());
    EXPECT_EQ(controller.selectedTrackID(), track.id);
    // Written even when the request went stale meanwhile.
    controller.playMusic(track);
    controller.stop();
    service.release("authorization", MusicAuthorizationStatus::unreachable);
    EXPECT_EQ(controller.status(), "The music server could not be reached");

    controller.playMusic(request(song, false));
    grant(false);
    ends("Music server connection required");
    EXPECT_EQ(service.pendingCount("catalogSong"), 0);

    // A track with no music id stops at its loading text.
    controller.playMusic(MusicTrackRequest{.displayTitle = "Nothing"});
    service.release("authorization", MusicAuthorizationStatus::authorized);
    ends("Loading Nothing\u2026");
    EXPECT_EQ(service.pendingCount("subscription"), 0);

    controller.playMusic(track);
    service.release("authorization", MusicAuthorizationStatus::authorized);
    service.release("subscription", Result<MusicSubscription>(serviceError("Timeout", 3)));
    ends("Couldn't play this track", "Timeout\n\nmpd \u00B7 3\n");

    controller.playMusic(request(song, false));
    grant();
    service.release("catalogSong", Found(serviceError("No database", 50)));
    ends("Couldn't play this track", "No database\n\nmpd \u00B7 50\n");

    // A corrupt payload is looked up; nothing found is no error.
    MusicTrackRequest corrupt = request(song, false);
    corrupt.musicPayload = QByteArray("{\"id\":");
    controller.playMusic(corrupt);
    grant();
    service.release("catalogSong", Found(std::optional<Song>()));
    ends("Song is unavailable");
    EXPECT_FALSE(controller.hasPlayback());

    // A catalogue song that will not prepare is never retried but stays queued.
    playCatalogue(song, Status(Error{"mpd", 50, "Not found", "ACK [50@0] {add} Not found"}));
    ends("Couldn't play this track", "Not found\n\nmpd \u00B7 50\nACK [50@0] {add} Not found");
    EXPECT_EQ(service.pendingCount("catalogSong") + service.pendingCount("search"), 0);
    EXPECT_TRUE(controller.hasPlayback());
    controller.stop();
    EXPECT_EQ(count("stop"), 1);
}

TEST_F(MusicPlaybackTest, LibrarySongFallsBackToItsCatalogueEquivalent) {
    for (bool found : {true, false}) {
        controller.playMusic(request(song, true));
        grant();
        service.release("librarySong", Found(std::optional<Song>(song)));
        const std::size_t mark = service.log.size();
        service.release("prepare", Status(serviceError("Failed to decode", 5)));
        if (!found) {
            // No equivalent: the first preparation's error is described.
            service.release("catalogSong", Found(std::optional<Song>()));
            service.release("search", Songs(std::vector<Song>{}));
            EXPECT_EQ(controller.status(), "Couldn't play this track");
            EXPECT_EQ(controller.errorDetail(), QString("Failed to decode\n\nmpd \u00B7 5\n"));
            EXPECT_FALSE(controller.busy());
            break;
        }
        service.release(
            "catalogSong",
            Found(std::optional<Song>(makeSong("c-songs/first.wav", "First", "Band", std::nullopt, 999))));
        service.release("prepare", Status());
        service.release("play", Status());
        EXPECT_EQ(logFrom(mark), (std::vector<std::string>{"catalogSong c-songs/first.wav", "stop",
                                                           "setQueue c-songs/first.wav",
                                                           "prepare c-songs/first.wav", "play"}));
        EXPECT_EQ(controller.status(), "First");
        EXPECT_DOUBLE_EQ(controller.duration(), 212.5);  // the first song's length
    }
}

// A song that the server reached does not hold (added from another server) says so and names that
// server, after the catalogue fallback for a library song has found no equivalent there either.
TEST_F(MusicPlaybackTest, ASongTheServerDoesNotHoldSaysSoNamingTheServer) {
    const Error missing{MusicErrors::domain, MusicErrors::notOnServer,
                        "The music server at localhost:6600 does not have the song songs/first.wav.",
                        "ACK [50@1] {add} No such directory"};
    const QString detail =
        "The music server at localhost:6600 does not have the song songs/first.wav.\n\nQuorvel.music \u00B7 "
        "5\nACK [50@1] {add} No such directory";
    service.server = "localhost:6600";
    controller.playMusic(request(song, false, true));
    grant();
    service.release("prepare", Status(missing));
    EXPECT_EQ(controller.status(), "This song is not on the music server at localhost:6600.");
    EXPECT_EQ(controller.errorDetail(), detail);
    EXPECT_FALSE(controller.busy());
    EXPECT_EQ(service.pendingCount("catalogSong") + service.pendingCount("search"), 0);

    controller.playMusic(request(song, true, true));
    grant();
    service.release("prepare", Status(missing));
    service.release("catalogSong", Found(std::optional<Song>()));
    service.release("search", Songs(std::vector<Song>{makeSong("songs/other.wav", "Other", "Band")}));
    EXPECT_EQ(controller.status(), "This song is not on the music server at localhost:6600.");
    EXPECT_EQ(controller.errorDetail(), detail);
    EXPECT_FALSE(controller.busy());

    // Any other failure to prepare stays a failure to play.
    controller.playMusic(request(song, false, true));
    grant();
    service.release("prepare", Status(Error{MusicErrors::domain, MusicErrors::noAnswer, "No answer", {}}));
    EXPECT_EQ(controller.status(), "Couldn't play this track");
}

// An overtaken request publishes nothing, and stops a song it started unless a newer request queued one.
TEST_F(MusicPlaybackTest, StaleRequestsPublishNothingAndLeaveTheNewerQueueAlone) {
    for (const char* stage : {"authorization", "lookup", "prepare"}) {
        controller.playMusic(request(song, true));
        const std::string s = stage;
        if (s != "authorization") grant();
        if (s == "prepare") service.release("librarySong", Found(std::optional<Song>(song)));
        controller.stop();
        if (s == "authorization") service.release("authorization", MusicAuthorizationStatus::authorized);
        if (s == "lookup") service.release("librarySong", Found(std::optional<Song>(song)));
        if (s == "prepare") service.release("prepare", Status());
        EXPECT_EQ(controller.status(), "Stopped") << stage;
        EXPECT_FALSE(controller.busy()) << stage;
        EXPECT_FALSE(controller.selectedTrackID()) << stage;
        EXPECT_EQ(service.pendingCount("subscription") + service.pendingCount("prepare") +
                      service.pendingCount("play"),
                  0)
            << stage;
    }
    EXPECT_EQ(count("play"), 0);

    controller.playMusic(request(song, false));
    grant();
    playVoice();
    service.release("catalogSong", Found(serviceError("Timeout")));
    EXPECT_EQ(controller.status(), "Spoken source ID");
    EXPECT_FALSE(controller.errorDetail());

    // Replaced by a local source while starting: the song it started is stopped.
    playCatalogue(song);
    playVoice();
    std::size_t mark = service.log.size();
    service.release("play", Status());
    EXPECT_EQ(logFrom(mark), std::vector<std::string>{"stop"});
    EXPECT_EQ(controller.status(), "Spoken source ID");
    EXPECT_FALSE(controller.isMusicSource());

    // Replaced by a newer song that is already queued: the stale start leaves the player to it.
    playCatalogue(song);
    playCatalogue(second, std::nullopt);
    mark = service.log.size();
    service.release("play", Status());  // the first request's start
    EXPECT_TRUE(logFrom(mark).empty());
    service.release("prepare", Status());
    service.release("play", Status());
    EXPECT_EQ(controller.status(), "Second");
    EXPECT_TRUE(controller.playing());

    // Likewise a fallback that finds the equivalent after a newer request queued its song.
    controller.playMusic(request(song, true));
    grant();
    service.release("librarySong", Found(std::optional<Song>(song)));
    service.release("prepare", Status(serviceError("Failed to decode", 5)));
    controller.playMusic(request(second, false));
    grant();
    service.release("catalogSong", Found(std::optional<Song>(second)), 1);
    mark = service.log.size();
    service.release("catalogSong",
                    Found(std::optional<Song>(makeSong("c-songs/first.wav", "First", "Band"))));
    EXPECT_TRUE(logFrom(mark).empty());  // no stop, no queue, no preparation
    EXPECT_EQ(service.queued->id, "songs/second.wav");
}

TEST_F(MusicPlaybackTest, PollMirrorsThePlayer) {
    playing();
    controller.pollMusic();
    controller.pollMusic();
    service.release("playerState", State(PlayerState{PlaybackStatus::playing, 1.25}));
    service.release("playerState", State(PlayerState{PlaybackStatus::paused, -0.5}));
    EXPECT_DOUBLE_EQ(controller.currentTime(), 0);
    EXPECT_FALSE(controller.playing());
    controller.pollMusic();
    service.release("playerState", State(PlayerState{PlaybackStatus::stopped, std::nan("")}));
    EXPECT_DOUBLE_EQ(controller.currentTime(), 0);
    controller.pollMusic();
    service.release("playerState", State(PlayerState{PlaybackStatus::playing, 3.5}));
    EXPECT_DOUBLE_EQ(controller.currentTime(), 3.5);
    EXPECT_TRUE(controller.playing());

    // The song's end: not playing any more, and nothing else changes or restarts.
    controller.pollMusic();
    service.release("playerState", State(PlayerState{PlaybackStatus::stopped, 0}));
    EXPECT_FALSE(controller.playing());
    EXPECT_EQ(controller.status(), "First");
    EXPECT_DOUBLE_EQ(controller.duration(), 212.5);
    EXPECT_TRUE(controller.hasPlayback());
    EXPECT_EQ(count("play"), 1);

    // A read that lands after a stop is dropped; with no music active nothing is read.
    controller.pollMusic();
    controller.stop();
    service.release("playerState", State(PlayerState{PlaybackStatus::playing, 9}));
    EXPECT_DOUBLE_EQ(controller.currentTime(), 0);
    controller.pollMusic();
    EXPECT_EQ(service.pendingCount("playerState"), 0);
}

// A poll that finds no server any more (it was killed under the song) stops the player and says which
// server stopped, in the status and in the music log; a server that answers with a refusal does not.
TEST_F(MusicPlaybackTest, APollThatCannotReachTheServerStopsThePlayer) {
    static QStringList* logged = nullptr;
    QStringList warnings;
    logged = &warnings;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (type == QtWarningMsg && logged) logged->append(QString(context.category) + ": " + text);
        });
    playing();
    controller.pollMusic();
    service.release("playerState", State(serviceError("you don't have permission for \"status\"", 4)));
    EXPECT_FALSE(controller.playing());
    EXPECT_TRUE(controller.hasPlayback());
    EXPECT_EQ(controller.status(), "First");
    EXPECT_TRUE(warnings.isEmpty());

    const std::size_t mark = service.log.size();
    controller.pollMusic();
    // The read reached no server; the one named is the one that started the song.
    service.server = "/var/run/mpd/socket or localhost:6600";
    service.release("playerState", State(Error{"posix", ECONNREFUSED, "Connection refused"}));
    qInstallMessageHandler(previous);
    logged = nullptr;
    EXPECT_EQ(controller.status(), "The music server at music.test:6600 stopped.");
    EXPECT_FALSE(controller.playing());
    EXPECT_FALSE(controller.hasPlayback());
    EXPECT_FALSE(controller.isMusicSource());
    EXPECT_FALSE(controller.selectedTrackID());
    EXPECT_EQ(logFrom(mark), (std::vector<std::string>{"playerState", "stop"}));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].startsWith("quorvel.music: ")) << warnings[0].toStdString();
    EXPECT_TRUE(warnings[0].contains("music.test:6600") && warnings[0].contains("Connection refused"))
        << warnings[0].toStdString();
    controller.pollMusic();
    EXPECT_EQ(service.pendingCount("playerState"), 0);
}

// A read asked for before a pause, resume or seek must not flip the button or position back for one poll.
TEST_F(MusicPlaybackTest, ReadsAskedForBeforeTheTransportActedAreDropped) {
    playing();
    QSignalSpy playingChanges(&controller, &AudioController::playingChanged);

    controller.pollMusic();
    controller.togglePlayback();  // pause
    EXPECT_EQ(count("pause"), 1);
    EXPECT_FALSE(controller.playing());
    service.release("playerState", State(PlayerState{PlaybackStatus::playing, 5.0}));
    EXPECT_FALSE(controller.playing());
    EXPECT_DOUBLE_EQ(controller.currentTime(), 0);
    controller.pollMusic();
    service.release("playerState", State(PlayerState{PlaybackStatus::paused, 5.1}));
    EXPECT_DOUBLE_EQ(controller.currentTime(), 5.1);
    EXPECT_EQ(playingChanges.count(), 1);

    controller.pollMusic();
    controller.togglePlayback();  // resume
    service.release("play", Status());
    EXPECT_TRUE(controller.playing());
    service.release("playerState", State(PlayerState{PlaybackStatus::paused, 5.1}));
    EXPECT_TRUE(controller.playing());
    EXPECT_EQ(playingChanges.count(), 2);

    controller.pollMusic();
    controller.seek(100);
    EXPECT_EQ(service.log.back(), "seek 100");
    service.release("playerState", State(PlayerState{PlaybackStatus::playing, 6.0}));
    EXPECT_DOUBLE_EQ(controller.currentTime(), 100);
    controller.pollMusic();
    service.release("playerState", State(PlayerState{PlaybackStatus::playing, 100.25}));
    EXPECT_DOUBLE_EQ(controller.currentTime(), 100.25);
}

TEST_F(MusicPlaybackTest, TransportActsOnTheSongOnly) {
    playing();
    // The level never reaches the song; seeking is clamped to its length.
    controller.setLevel(-50);
    controller.seek(300);
    EXPECT_DOUBLE_EQ(controller.currentTime(), 212.5);
    controller.seek(-3);
    EXPECT_EQ(logFrom(service.log.size() - 2), (std::vector<std::string>{"seek 212.5", "seek 0"}));
    // No pause or resume while a request is loading.
    controller.playMusic(request(song, true, true));
    controller.togglePlayback();
    EXPECT_EQ(count("pause") + count("play"), 1);

    // A resume that answers after a stop reports nothing.
    grant();
    service.release("prepare", Status());
    service.release("play", Status());
    controller.togglePlayback();
    controller.togglePlayback();
    controller.stop();
    service.release("play", Status(serviceError("gone")));
    EXPECT_EQ(controller.status(), "Stopped");
    EXPECT_FALSE(controller.errorDetail());
    EXPECT_FALSE(controller.hasPlayback());
    EXPECT_EQ(count("pause"), 1);
}

// Catalogue id first, then a search where an ISRC match wins, else title and artist ignoring case.
TEST_F(MusicPlaybackTest, TheCatalogueEquivalentIsTheSameRecording) {
    const Song withISRC = makeSong("lib.wav", "Song", "Artist", "ISRC-1");  // play parameters: "c-lib.wav"
    Song bare = makeSong("lib.wav", "Song", "Artist");
    bare.playParameters.reset();
    struct Case {
        const Song& song;
        std::optional<Found> byID;  // the answer to the request by id, when one is made
        Songs candidates;
        std::string outcome;  // the id found, "<none>", or the error's description
    };
    for (const Case& c : {
             Case{withISRC, Found(std::optional<Song>(makeSong("c-lib.wav", "Song", "Artist"))),
                  Songs(serviceError("unused")), "c-lib.wav"},
             Case{withISRC, Found(serviceError("Timeout", 3)), Songs(serviceError("unused")), "Timeout"},
             Case{withISRC, Found(std::optional<Song>()),
                  std::vector<Song>{makeSong("title.wav", "Song", "Artist"),
                                    makeSong("other.wav", "Other", "X", "isrc-1"),
                                    makeSong("isrc.wav", "Live", "Someone", "ISRC-1")},
                  "isrc.wav"},
             Case{bare, std::nullopt,
                  std::vector<Song>{makeSong("near.wav", "Song ", "Artist"),
                                    makeSong("case.wav", "SONG", "artist", "ISRC-9")},
                  "case.wav"},
             Case{bare, std::nullopt, std::vector<Song>{makeSong("x.wav", "Else", "Artist")}, "<none>"},
             Case{bare, std::nullopt, Songs(serviceError("Connection closed by the server")),
                  "Connection closed by the server"},
         }) {
        std::string outcome = "<pending>";
        MusicSongs::catalogEquivalent(service, &controller, c.song, [&](Found found) {
            outcome = !found.ok() ? found.error().description : found.value() ? found.value()->id : "<none>";
        });
        if (c.byID) {
            EXPECT_EQ(service.pendingCall("catalogSong").argument, "c-lib.wav");
            service.release("catalogSong", *c.byID);
        }
        if (service.pendingCount("search")) {
            EXPECT_EQ(service.pendingCall("search").argument, "Song Artist 25");
            service.release("search", c.candidates);
        }
        EXPECT_EQ(outcome, c.outcome);
    }
}

}  // namespace quorvel
