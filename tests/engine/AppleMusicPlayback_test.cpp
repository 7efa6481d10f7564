#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "AppleMusicPlayback.h"
#include "FakeMusicService.h"
#include "MusicTestController.h"

namespace {

using Found = Result<std::optional<Song>>;
using Songs = Result<std::vector<Song>>;
using Subscription = Result<MusicSubscription>;
using State = Result<PlayerState>;

MusicTrackRequest libraryTrack(const Song& song, bool withPayload = false) {
    MusicTrackRequest track;
    track.musicID = QString::fromStdString(song.id);
    track.libraryMusic = true;
    if (withPayload) track.musicPayload = QByteArray::fromStdString(*SongCoding::encode(song));
    track.displayTitle = QString::fromStdString(song.title);
    return track;
}

MusicTrackRequest catalogueTrack(const Song& song) {
    MusicTrackRequest track = libraryTrack(song);
    track.libraryMusic = false;
    return track;
}

struct PlaybackTest : ::testing::Test {
    FakeMusicService service;
    TestController controller{service};
    Song song = makeSong("songs/first.wav", "First", "Band", std::nullopt, 212.5);

    void grant(bool catalogue = true) {
        service.release("authorization", MusicAuthorizationStatus::authorized);
        service.release("subscription", Subscription(MusicSubscription{catalogue}));
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

TEST_F(PlaybackTest, LibraryTrackWithAPayloadPlaysWithoutALookup) {
    controller.playMusic(libraryTrack(song, true));
    EXPECT_EQ(controller.status, "Loading First…");
    grant(false);  // a library track needs no catalogue rights
    service.release("prepare", Status());
    service.release("play", Status());
    EXPECT_EQ(service.log, (std::vector<std::string>{"authorization", "subscription", "setQueue songs/first.wav",
                                                     "prepare songs/first.wav", "play"}));
    EXPECT_EQ(controller.status, "First");
    EXPECT_TRUE(controller.playing);
    EXPECT_DOUBLE_EQ(controller.duration, 212.5);
    EXPECT_TRUE(controller.timer);
    EXPECT_FALSE(controller.busy);
    EXPECT_TRUE(controller.musicActive());
    EXPECT_FALSE(controller.errorDetail);
}

TEST_F(PlaybackTest, RefusalsEndWithTheirFixedTexts) {
    controller.playMusic(libraryTrack(song));
    service.release("authorization", MusicAuthorizationStatus::denied);
    EXPECT_EQ(controller.status, "Apple Music access was not granted");
    EXPECT_FALSE(controller.busy);
    EXPECT_FALSE(controller.musicActive());

    // Written even when the request went stale meanwhile.
    controller.playMusic(libraryTrack(song));
    controller.stop();
    service.release("authorization", MusicAuthorizationStatus::denied);
    EXPECT_EQ(controller.status, "Apple Music access was not granted");

    controller.playMusic(catalogueTrack(song));
    grant(false);
    EXPECT_EQ(controller.status, "Apple Music playback access required");
    EXPECT_EQ(count("catalogSong songs/first.wav"), 0);
    EXPECT_FALSE(controller.busy);
    EXPECT_FALSE(controller.errorDetail);
}

TEST_F(PlaybackTest, LookupFailuresAndMissingSongs) {
    controller.playMusic(libraryTrack(song));
    service.release("authorization", MusicAuthorizationStatus::authorized);
    service.release("subscription", Subscription(serviceError("Timeout", 3)));
    EXPECT_EQ(controller.status, "Couldn't play this track");
    EXPECT_EQ(controller.errorDetail, QString("Timeout\n\nmpd · 3\n"));
    EXPECT_FALSE(controller.musicActive());

    // A corrupt payload is looked up; nothing found is no error.
    MusicTrackRequest corrupt = catalogueTrack(song);
    corrupt.musicPayload = QByteArray("{\"id\":");
    controller.playMusic(corrupt);
    grant();
    service.release("catalogSong", Found(std::optional<Song>()));
    EXPECT_EQ(controller.status, "Song is unavailable");
    EXPECT_FALSE(controller.errorDetail);
    EXPECT_FALSE(controller.busy);
    EXPECT_FALSE(controller.musicActive());
}

TEST_F(PlaybackTest, CatalogueSongThatWillNotPrepareIsReportedAtOnce) {
    controller.playMusic(catalogueTrack(song));
    grant();
    service.release("catalogSong", Found(std::optional<Song>(song)));
    service.release("prepare", Status(serviceError("Not found", 50)));
    EXPECT_EQ(controller.status, "Couldn't play this track");
    EXPECT_TRUE(controller.errorDetail->startsWith("Not found\n\nmpd · 50\n"));
    EXPECT_TRUE(controller.musicActive());  // the song stays queued for a later resume
    EXPECT_EQ(service.pendingCount("catalogSong") + service.pendingCount("search"), 0);
}

TEST_F(PlaybackTest, LibrarySongFallsBackToItsCatalogueEquivalent) {
    Song equivalent = makeSong("c-songs/first.wav", "First", "Band", std::nullopt, 999);
    controller.playMusic(libraryTrack(song));
    grant();
    service.release("librarySong", Found(std::optional<Song>(song)));
    service.release("prepare", Status(serviceError("Failed to decode", 5)));
    service.release("catalogSong", Found(std::optional<Song>(equivalent)));
    service.release("prepare", Status());
    service.release("play", Status());
    EXPECT_EQ(logFrom(3), (std::vector<std::string>{"setQueue songs/first.wav", "prepare songs/first.wav",
                                                    "catalogSong c-songs/first.wav", "stop",
                                                    "setQueue c-songs/first.wav", "prepare c-songs/first.wav",
                                                    "play"}));
    EXPECT_EQ(controller.status, "First");
    EXPECT_DOUBLE_EQ(controller.duration, 212.5);  // the first song's length

    // No equivalent: the first preparation's error is described.
    controller.playMusic(libraryTrack(song));
    grant();
    service.release("librarySong", Found(std::optional<Song>(song)));
    service.release("prepare", Status(serviceError("Failed to decode", 5)));
    service.release("catalogSong", Found(std::optional<Song>()));
    service.release("search", Songs(std::vector<Song>{}));
    EXPECT_EQ(controller.status, "Couldn't play this track");
    EXPECT_TRUE(controller.errorDetail->startsWith("Failed to decode\n"));
    EXPECT_FALSE(controller.busy);
}

TEST_F(PlaybackTest, StaleRequestsPublishNothing) {
    // Stopped while waiting for the authorisation, the lookup or the preparation.
    for (const char* stage : {"authorization", "lookup", "prepare"}) {
        controller.playMusic(libraryTrack(song));
        std::string s = stage;
        if (s != "authorization") grant();
        if (s == "prepare") service.release("librarySong", Found(std::optional<Song>(song)));
        controller.stop();
        if (s == "authorization") service.release("authorization", MusicAuthorizationStatus::authorized);
        if (s == "lookup") service.release("librarySong", Found(std::optional<Song>(song)));
        if (s == "prepare") service.release("prepare", Status());
        EXPECT_EQ(controller.status, "Stopped") << stage;
        EXPECT_FALSE(controller.busy) << stage;
        EXPECT_FALSE(controller.playing) << stage;
        EXPECT_EQ(service.pendingCount("subscription") + service.pendingCount("prepare") +
                      service.pendingCount("play"),
                  0)
            << stage;
    }
    EXPECT_EQ(count("play"), 0);

    // A failure of a stale request is dropped too.
    controller.playMusic(catalogueTrack(song));
    grant();
    controller.playLocal();
    service.release("catalogSong", Found(serviceError("Timeout")));
    EXPECT_EQ(controller.status, "Local track");
    EXPECT_FALSE(controller.errorDetail);
}

TEST_F(PlaybackTest, StaleRequestStopsTheSongItStartedUnlessANewerRequestQueuedOne) {
    // Replaced by a local track while starting: the song it started is stopped, not left sounding.
    controller.playMusic(catalogueTrack(song));
    grant();
    service.release("catalogSong", Found(std::optional<Song>(song)));
    service.release("prepare", Status());
    controller.playLocal();  // stops the shared player before the start has landed
    std::size_t mark = service.log.size();
    service.release("play", Status());
    EXPECT_EQ(logFrom(mark), std::vector<std::string>{"stop"});
    EXPECT_EQ(controller.status, "Local track");

    // Replaced by a newer song that is already queued: the stale request leaves the player to it.
    Song second = makeSong("songs/second.wav", "Second", "Band");
    controller.playMusic(catalogueTrack(song));
    grant();
    service.release("catalogSong", Found(std::optional<Song>(song)));
    service.release("prepare", Status());
    controller.playMusic(catalogueTrack(second));
    grant();
    service.release("catalogSong", Found(std::optional<Song>(second)));
    mark = service.log.size();
    service.release("play", Status());  // the first request's start
    EXPECT_TRUE(logFrom(mark).empty());
    service.release("prepare", Status());
    service.release("play", Status());
    EXPECT_EQ(controller.status, "Second");
    EXPECT_TRUE(controller.playing);
}

TEST_F(PlaybackTest, StaleFallbackLeavesTheNewerQueueAlone) {
    Song second = makeSong("songs/second.wav", "Second", "Band");
    controller.playMusic(libraryTrack(song));
    grant();
    service.release("librarySong", Found(std::optional<Song>(song)));
    service.release("prepare", Status(serviceError("Failed to decode", 5)));
    // While the fallback looks for the equivalent, a newer request queues its own song.
    controller.playMusic(catalogueTrack(second));
    grant();
    service.release("catalogSong", Found(std::optional<Song>(second)), 1);
    ASSERT_EQ(service.queued->id, "songs/second.wav");
    std::size_t mark = service.log.size();
    service.release("catalogSong", Found(std::optional<Song>(makeSong("c-songs/first.wav", "First", "Band"))));
    EXPECT_TRUE(logFrom(mark).empty());  // no stop, no queue, no preparation
    EXPECT_EQ(service.queued->id, "songs/second.wav");
    service.release("prepare", Status());
    service.release("play", Status());
    EXPECT_EQ(controller.status, "Second");
}

TEST_F(PlaybackTest, PollMirrorsThePlayer) {
    controller.playMusic(libraryTrack(song, true));
    grant();
    service.release("prepare", Status());
    service.release("play", Status());

    controller.playback.poll();
    controller.playback.poll();  // both firings get the answer
    service.release("playerState", State(PlayerState{PlaybackStatus::playing, 1.25}));
    service.release("playerState", State(PlayerState{PlaybackStatus::paused, -0.5}));
    EXPECT_DOUBLE_EQ(controller.currentTime, 0);
    EXPECT_FALSE(controller.playing);
    controller.playback.poll();
    service.release("playerState", State(PlayerState{PlaybackStatus::stopped, std::nan("")}));
    EXPECT_DOUBLE_EQ(controller.currentTime, 0);
    controller.playback.poll();
    service.release("playerState", State(PlayerState{PlaybackStatus::playing, 3.5}));
    EXPECT_DOUBLE_EQ(controller.currentTime, 3.5);
    EXPECT_TRUE(controller.playing);
    EXPECT_EQ(controller.status, "First");  // the poll touches nothing else

    controller.playback.poll();
    service.release("playerState", State(serviceError("Connection closed by the server")));
    EXPECT_FALSE(controller.playing);
    EXPECT_DOUBLE_EQ(controller.currentTime, 3.5);

    // A read that lands after a stop is dropped; with no music active nothing is read.
    controller.playback.poll();
    controller.stop();
    service.release("playerState", State(PlayerState{PlaybackStatus::playing, 9}));
    EXPECT_DOUBLE_EQ(controller.currentTime, 0);
    controller.playback.poll();
    EXPECT_EQ(service.pendingCount("playerState"), 0);
}
