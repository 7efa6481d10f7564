// The browser on the real music service: the fixture's MPD (250 stored playlists, 35 songs) and a private
// MPD stopped in mid-session.
#include <gtest/gtest.h>

#include <QTest>

#include "PrivateMpd.h"
#include "TestHome.h"
#include "engine/ThreadedMusicService.h"
#include "library/LibraryStore.h"
#include "library/MusicBrowser.h"
#include "platform/MpdMusicClient.h"

namespace quorvel {

namespace {

bool wait(const bool& flag) {
    return QTest::qWaitFor([&] { return flag; }, 30000);
}

std::ptrdiff_t position(const MusicBrowser& browser, const std::string& name) {
    const auto& list = browser.playlists();
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].name == name) return static_cast<std::ptrdiff_t>(i);
    return -1;
}

std::shared_ptr<MpdMusicClient> clientOn(unsigned port) {
    return std::make_shared<MpdMusicClient>(MpdMusicClient::Options{"127.0.0.1", port, "", 2000});
}

}  // namespace

TEST(MusicBrowserServer, ConnectsListsAllPlaylistsSortedAndSearches) {
    // The browser's own default: the shared service on the server of MPD_HOST / MPD_PORT.
    MusicBrowser browser;
    bool done = false;
    browser.connect([&] { done = true; });
    EXPECT_TRUE(browser.isLoading());
    ASSERT_TRUE(wait(done));
    EXPECT_EQ(browser.message(), "Connected · 250 playlists. Choose Import to add one to Quorvel.");
    ASSERT_EQ(browser.playlists().size(), 250u);
    EXPECT_EQ(position(browser, "Alpha"), 0);
    EXPECT_LT(position(browser, "mix 2"), position(browser, "Mix 10"));
    EXPECT_LT(position(browser, "bulk 246"), position(browser, "mix 2"));

    done = false;
    browser.search("crowd song", [&] { done = true; });
    ASSERT_TRUE(wait(done));
    EXPECT_EQ(browser.songs().size(), 25u);
    EXPECT_EQ(browser.songs().front().artistName, "Crowd");
}

TEST(MusicBrowserServer, ImportsAStoredPlaylist) {
    MusicBrowser browser;
    LibraryStore store(QString::fromStdString(TestHome::freshDir("store")));
    std::optional<bool> imported;
    browser.importPlaylist(Playlist{"Show", "Show"}, store, [&](bool ok) { imported = ok; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return imported.has_value(); }, 30000));
    ASSERT_TRUE(*imported) << browser.message().toStdString();
    EXPECT_EQ(browser.message(), "Imported Show · 3 tracks");  // the radio stream is not a song

    const auto& tracks = store.playlists().last().tracks;
    ASSERT_EQ(tracks.size(), 3);
    EXPECT_EQ(tracks[0].title, "First Light — Quorvel Test");
    EXPECT_EQ(tracks[1].title, "Yesterday — The Band");
    EXPECT_EQ(tracks[2].title, "Café Ünïcode — Zoë");
    EXPECT_EQ(tracks[2].displayTitle(), "Café Ünïcode");
    EXPECT_EQ(tracks[1].musicID, "songs/yesterday.wav");
    auto song = SongCoding::decode(tracks[1].musicPayload.value_or(QByteArray()).toStdString());
    ASSERT_TRUE(song.ok());
    EXPECT_EQ(song->durationSeconds, 5.0);

    // A playlist that is gone from the server fails with the missing-tracks text.
    imported.reset();
    browser.importPlaylist(Playlist{"Gone", "Gone"}, store, [&](bool ok) { imported = ok; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return imported.has_value(); }, 30000));
    EXPECT_FALSE(*imported);
    EXPECT_EQ(browser.message(),
              "Could not import Gone: The music server did not return tracks for this playlist. Refresh "
              "playlists and "
              "try again.");
}

TEST(MusicBrowserServer, ServerStoppedMidSessionGivesTheFailureTexts) {
    PrivateMpd server;
    ThreadedMusicService service(clientOn(server.port()));
    MusicBrowser browser(service);
    bool done = false;
    browser.connect([&] { done = true; });
    ASSERT_TRUE(wait(done));
    ASSERT_TRUE(browser.connected());

    server.stop();
    done = false;
    browser.connect([&] { done = true; });
    ASSERT_TRUE(wait(done));
    EXPECT_EQ(
        browser.message(),
        QString("Can't reach the music server at 127.0.0.1:%1. Start MPD, or set MPD_HOST and MPD_PORT.")
            .arg(server.port()));
    EXPECT_TRUE(browser.connected());
    EXPECT_EQ(browser.playlists().size(), 250u);
    EXPECT_FALSE(browser.isLoading());

    done = false;
    browser.search("crowd", [&] { done = true; });
    ASSERT_TRUE(wait(done));
    EXPECT_EQ(browser.message(), "Music access required");
}

}  // namespace quorvel
