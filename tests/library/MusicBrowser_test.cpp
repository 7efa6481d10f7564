#include "library/MusicBrowser.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>

#include "FakeMusicService.h"
#include "TestHome.h"
#include "library/LibraryStore.h"

namespace quorvel {

namespace {

using Batch = Result<PlaylistBatch>;
using NextBatch = Result<std::optional<PlaylistBatch>>;
using Songs = Result<std::vector<Song>>;
using Tracks = Result<std::optional<TrackBatch>>;

PlaylistBatch batchOf(std::vector<std::string> names, std::optional<std::size_t> next = std::nullopt) {
    PlaylistBatch batch;
    for (auto& n : names) batch.items.push_back(Playlist{"id-" + n, n});
    batch.nextOffset = next;
    return batch;
}

Songs songs(const std::string& title) { return std::vector<Song>{makeSong(title + ".wav", title, "X")}; }

struct BrowserTest : ::testing::Test {
    FakeMusicService service;
    MusicBrowser browser{service};
    int connectsEnded = 0;

    void startConnect() {
        browser.connect([this] { ++connectsEnded; });
    }
    // A whole successful load of the given single batch.
    void connectWith(std::vector<std::string> playlistNames) {
        startConnect();
        service.release("authorization", MusicAuthorizationStatus::authorized);
        service.release("playlists", Batch(batchOf(std::move(playlistNames))));
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& p : browser.playlists()) out.push_back(p.name);
        return out;
    }
};

}  // namespace

TEST_F(BrowserTest, ConnectLoadsEveryBatchAndSortsByName) {
    QSignalSpy loading(&browser, &MusicBrowser::isLoadingChanged);
    startConnect();
    EXPECT_TRUE(browser.isLoading());
    EXPECT_EQ(browser.message(), "Loading the music server's playlists…");
    // A second connect while loading asks for nothing.
    browser.connect([this] { ++connectsEnded; });
    EXPECT_EQ(connectsEnded, 1);
    EXPECT_EQ(service.pendingCount("authorization"), 1);

    service.release("authorization", MusicAuthorizationStatus::authorized);
    EXPECT_EQ(service.pendingCall("playlists").argument, "100");
    service.release("playlists", Batch(batchOf({"Mix 10", "b", "Mix 13"}, 2)));
    EXPECT_EQ(service.pendingCall("nextPlaylists").argument, "2 100");
    service.release("nextPlaylists", NextBatch(batchOf({"mix 2", "B", "item 3", "Item 03", "Mix"}, 5)));
    service.release("nextPlaylists", NextBatch(batchOf({"Alpha"})));  // reports no next batch
    EXPECT_EQ(service.pendingCount("nextPlaylists"), 0);

    // Case is ignored and digits compare by value; names that compare equal keep the service's order.
    EXPECT_EQ(names(), (std::vector<std::string>{"Alpha", "b", "B", "item 3", "Item 03", "Mix", "mix 2",
                                                 "Mix 10", "Mix 13"}));
    EXPECT_TRUE(browser.connected());
    EXPECT_FALSE(browser.isLoading());
    EXPECT_EQ(browser.message(), "Connected · 9 playlists. Choose Import to add one to Quorvel.");
    EXPECT_EQ(loading.count(), 2);
    EXPECT_EQ(connectsEnded, 2);

    connectWith({});
    EXPECT_EQ(
        browser.message(),
        "Connected. No playlists are available in this device's Music library. Add or sync a playlist in "
        "Music, then tap Refresh playlists.");
}

TEST_F(BrowserTest, RefusedAccessNamesTheServerAndKeepsTheEarlierList) {
    const std::pair<MusicAuthorizationStatus, QString> refusals[] = {
        {MusicAuthorizationStatus::unreachable,
         "Can't reach the music server at music.test:6600. Start MPD, or set MPD_HOST and MPD_PORT."},
        {MusicAuthorizationStatus::passwordRefused,
         "The music server at music.test:6600 refused the password."},
        {MusicAuthorizationStatus::notAnswering, "The music server at music.test:6600 does not answer."},
    };
    EXPECT_EQ(browser.server(), "");
    connectWith({"Kept"});
    EXPECT_EQ(browser.server(), "music.test:6600");
    for (const auto& [status, message] : refusals) {
        startConnect();
        service.release("authorization", status);
        EXPECT_EQ(browser.message(), message);
        EXPECT_FALSE(browser.isLoading());
        EXPECT_TRUE(browser.connected());
        EXPECT_EQ(names(), std::vector<std::string>{"Kept"});
        EXPECT_EQ(service.pendingCount("playlists"), 0);
        EXPECT_EQ(browser.server(), "");  // no server gives access now
    }
    // A search that is given access names the server it reached, which may be another one by now.
    service.server = "/var/run/mpd/socket";
    browser.search("x");
    service.release("authorization", MusicAuthorizationStatus::authorized);
    EXPECT_EQ(browser.server(), "/var/run/mpd/socket");
}

// A failed batch, first or later, keeps the earlier list, and the browser can load again afterwards.
TEST_F(BrowserTest, FailureInAnyBatchKeepsTheEarlierList) {
    connectWith({"Kept"});
    QSignalSpy playlists(&browser, &MusicBrowser::playlistsChanged);
    startConnect();
    service.release("authorization", MusicAuthorizationStatus::authorized);
    service.release("playlists", Batch(batchOf({"New 1"}, 1)));
    service.release("nextPlaylists", NextBatch(serviceError("Connection closed by the server")));
    EXPECT_EQ(browser.message(), "Could not load playlists: Connection closed by the server");
    EXPECT_FALSE(browser.isLoading());
    EXPECT_TRUE(browser.connected());
    EXPECT_EQ(names(), std::vector<std::string>{"Kept"});
    EXPECT_EQ(playlists.count(), 0);
    startConnect();
    service.release("authorization", MusicAuthorizationStatus::authorized);
    service.release("playlists", Batch(serviceError("Timeout")));
    EXPECT_EQ(browser.message(), "Could not load playlists: Timeout");
    EXPECT_FALSE(browser.isLoading());
    connectWith({"Fresh"});
    EXPECT_EQ(names(), std::vector<std::string>{"Fresh"});
}

// A search publishes the songs without touching the message; a failure shows and keeps the songs.
TEST_F(BrowserTest, SearchPublishesSongsAndKeepsTheMessage) {
    connectWith({"A"});
    const QString connectedMessage = browser.message();
    browser.search("");  // an empty term is still sent
    service.release("authorization", MusicAuthorizationStatus::authorized);
    EXPECT_EQ(service.pendingCall("search").argument, " 25");
    service.release("search", songs("A"));
    ASSERT_EQ(browser.songs().size(), 1u);
    EXPECT_EQ(browser.message(), connectedMessage);

    browser.search("  spaced term ");
    service.release("authorization", MusicAuthorizationStatus::authorized);
    EXPECT_EQ(service.pendingCall("search").argument, "  spaced term  25");
    service.release("search", Songs(serviceError("No database")));
    EXPECT_EQ(browser.message(), "No database");
    browser.search("x");
    service.release("authorization", MusicAuthorizationStatus::unreachable);
    EXPECT_EQ(browser.message(), "Music access required");
    ASSERT_EQ(browser.songs().size(), 1u);
    EXPECT_EQ(browser.songs()[0].title, "A");
}

TEST_F(BrowserTest, SlowerOlderSearchNeverOverwritesANewerOne) {
    int ended = 0;
    browser.search("old", [&] { ++ended; });
    browser.search("new", [&] { ++ended; });
    service.release("authorization", MusicAuthorizationStatus::authorized);
    service.release("authorization", MusicAuthorizationStatus::authorized);
    // The newer answers first; the older one's late answer is dropped.
    service.release("search", songs("New"), 1);
    service.release("search", songs("Old"));
    ASSERT_EQ(browser.songs().size(), 1u);
    EXPECT_EQ(browser.songs()[0].title, "New");
    EXPECT_EQ(ended, 2);

    // In order, each publishes in turn; an older refusal arriving late changes nothing either.
    browser.search("first");
    browser.search("second");
    browser.search("third");
    service.release("authorization", MusicAuthorizationStatus::authorized);
    service.release("authorization", MusicAuthorizationStatus::authorized);
    service.release("search", songs("First"));
    EXPECT_EQ(browser.songs()[0].title, "First");
    service.release("search", songs("Second"));
    EXPECT_EQ(browser.songs()[0].title, "Second");
    service.release("authorization", MusicAuthorizationStatus::unreachable, 0);
    EXPECT_EQ(browser.message(), "Music access required");  // the third is the newest: it may publish
    browser.search("fourth");
    browser.search("fifth");
    service.release("authorization", MusicAuthorizationStatus::authorized, 1);
    service.release("search", Songs(serviceError("late failure")));
    service.release("authorization", MusicAuthorizationStatus::unreachable);
    EXPECT_EQ(browser.message(), "late failure");  // the older refusal came after the newer failure
}

namespace {

TrackBatch tracksOf(std::vector<Track> items, std::optional<std::size_t> next = std::nullopt) {
    return TrackBatch{"id-Road", std::move(items), next};
}

Track songEntry(const std::string& id, const std::string& title, const std::string& artist) {
    return Track{makeSong(id, title, artist)};
}

struct ImportTest : BrowserTest {
    QString dir = QString::fromStdString(TestHome::freshDir("import"));
    LibraryStore store{dir};
    Playlist road{"id-Road", "Road"};
    std::optional<bool> imported;

    void startImport() {
        imported.reset();
        browser.importPlaylist(road, store, [this](bool ok) { imported = ok; });
    }
};

}  // namespace

TEST_F(ImportTest, ImportsEverySongOfEveryBatchAsLibraryTracks) {
    QSignalSpy importing(&browser, &MusicBrowser::importingPlaylistIDChanged);
    startImport();
    EXPECT_EQ(browser.importingPlaylistID(), std::optional<MusicItemID>("id-Road"));
    EXPECT_EQ(browser.message(), "Importing Road…");
    // Neither a load nor a second import may start meanwhile, nor an import while a load runs.
    browser.connect();
    std::optional<bool> second;
    browser.importPlaylist(road, store, [&](bool ok) { second = ok; });
    EXPECT_EQ(second, false);
    EXPECT_EQ(service.pendingCount("authorization"), 0);
    EXPECT_EQ(browser.message(), "Importing Road…");

    EXPECT_EQ(service.pendingCall("tracks").argument, "id-Road");
    service.release("tracks", Tracks(tracksOf({songEntry("a.wav", "Song", "Band"), Track{}}, 2)));
    service.release("nextTracks",
                    Tracks(tracksOf({songEntry("a.wav", "Song", "Band"), songEntry("b.wav", "Solo", "")})));
    ASSERT_EQ(imported, true);
    EXPECT_FALSE(browser.importingPlaylistID());
    EXPECT_EQ(importing.count(), 2);
    EXPECT_EQ(browser.message(), "Imported Road · 3 tracks");

    const ReferencePlaylist& added = store.playlists().last();
    EXPECT_EQ(added.name, "Road");
    EXPECT_EQ(store.selected(), store.playlists().size() - 1);
    ASSERT_EQ(added.tracks.size(), 3);
    EXPECT_EQ(added.tracks[0].title, "Song — Band");
    EXPECT_EQ(added.tracks[2].title, "Solo — ");        // an empty artist still gets the separator
    EXPECT_NE(added.tracks[0].id, added.tracks[1].id);  // the same song twice: two entries
    for (const auto& track : added.tracks) {
        EXPECT_TRUE(track.libraryMusic);
        EXPECT_FALSE(track.filename);
        EXPECT_EQ(std::tuple(track.trimDB, track.cueIn, track.cueOut, track.loop),
                  std::tuple(0.0, 0.0, 0.0, false));
        auto song = SongCoding::decode(track.musicPayload.value_or("").toStdString());
        ASSERT_TRUE(song.ok());
        EXPECT_EQ(QString::fromStdString(song->id), *track.musicID);
    }

    startConnect();
    startImport();
    EXPECT_EQ(imported, false);
    EXPECT_EQ(service.pendingCount("tracks"), 0);
}

// An empty playlist is imported; a missing one, a failed batch or save reports and adds nothing.
TEST_F(ImportTest, EmptyCollectionIsImportedButFailuresAddNothing) {
    startImport();
    service.release("tracks", Tracks(tracksOf({Track{}})));
    EXPECT_EQ(imported, true);
    EXPECT_EQ(browser.message(), "Imported Road · 0 tracks");

    const auto playlistsBefore = store.playlists().size();
    startImport();
    service.release("tracks", Tracks(std::optional<TrackBatch>()));
    EXPECT_EQ(imported, false);
    EXPECT_EQ(browser.message(),
              "Could not import Road: The music server did not return tracks for this playlist. "
              "Refresh playlists and try again.");
    EXPECT_FALSE(browser.importingPlaylistID());

    startImport();
    service.release("tracks", Tracks(tracksOf({songEntry("a.wav", "Song", "Band")}, 1)));
    service.release("nextTracks", Tracks(serviceError("Connection closed by the server")));
    EXPECT_EQ(imported, false);
    EXPECT_EQ(browser.message(), "Could not import Road: Connection closed by the server");
    EXPECT_FALSE(browser.importingPlaylistID());

    QFile::remove(dir + "/playlists.json");
    QDir().mkpath(dir + "/playlists.json");  // the store cannot replace a folder with its file
    startImport();
    service.release("tracks", Tracks(tracksOf({songEntry("a.wav", "Song", "Band")})));
    EXPECT_EQ(imported, false);
    EXPECT_TRUE(browser.message().startsWith("Save failed: "));
    EXPECT_FALSE(browser.importingPlaylistID());
    EXPECT_EQ(store.playlists().size(), playlistsBefore);
}

}  // namespace quorvel
