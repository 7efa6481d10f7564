#include "library/LibraryStore.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <cmath>

#include "LibraryTestFiles.h"
#include "library/StoreFiles.h"
#include "platform/MusicItems.h"

namespace quorvel {

using namespace LibraryTestFiles;

namespace {
bool onlyDefault(const LibraryStore& store) {
    return store.playlists().size() == 1 && store.playlists()[0].name == "My Quorvel" &&
           store.playlists()[0].tracks.isEmpty();
}
}  // namespace

// A store starts from its file or one unsaved default; an undecodable file is kept aside, an
// unreadable one blocks saves until it is gone.
TEST(LibraryStore, StartsFromFileOrUnsavedDefault) {
    const QString root = freshDir("start") + "/nested/Quorvel";
    LibraryStore fresh(root);
    EXPECT_TRUE(QFileInfo(root).isDir());
    EXPECT_TRUE(onlyDefault(fresh));
    EXPECT_EQ(fresh.message(), "");
    EXPECT_FALSE(QFileInfo::exists(root + "/playlists.json"));
    EXPECT_EQ(LibraryStore().root(), StoreFiles::storageDirectory());
    write(root + "/playlists.json", "[]");
    EXPECT_TRUE(onlyDefault(LibraryStore(root)));
    for (const auto& [counts, selected] : {std::pair{QList<int>{3, 0, 2, 0}, 2},
                                           {QList<int>{0, 4}, 1},
                                           {QList<int>{0, 0}, 0},
                                           {QList<int>{1}, 0}}) {
        QList<ReferencePlaylist> list;
        for (int count : counts)
            list.push_back(
                {.name = "P", .tracks = QList<ReferenceTrack>(count, {.title = "t", .filename = "f.wav"})});
        write(root + "/playlists.json", *ReferencePlaylist::encodeList(list));
        EXPECT_EQ(LibraryStore(root).selected(), selected);
    }

    const QByteArray original =
        R"([{"id":"0D5F3C2A-1B4E-4C6D-8E9F-A0B1C2D3E4F5","name":"Gig","tracks":[]}, {]  )";
    write(root + "/playlists.json", original);
    LibraryStore store(root);
    EXPECT_TRUE(store.message().startsWith("Library could not be loaded: ")) << store.message().toStdString();
    EXPECT_TRUE(onlyDefault(store));
    store.addPlaylist("New");
    const QStringList kept = QDir(root).entryList({"playlists.unreadable-*.json"});
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(read(root + "/" + kept[0]), original);
    EXPECT_EQ(LibraryStore(root).playlists().size(), 2);

    const QString blocked = freshDir("blocked");
    QDir().mkpath(blocked + "/playlists.json");
    LibraryStore guarded(blocked);
    EXPECT_FALSE(guarded.save());
    EXPECT_TRUE(guarded.message().startsWith("Save failed: "));
    QDir(blocked + "/playlists.json").removeRecursively();
    EXPECT_TRUE(guarded.save());
}

// A new playlist is trimmed, selected, saved and announced once; a blank name adds nothing.
TEST(LibraryStore, AddPlaylistTrimsSelectsSavesAndAnnouncesOnce) {
    const QString dir = freshDir("add");
    LibraryStore store(dir);
    QSignalSpy lists(&store, &LibraryStore::playlistsChanged);
    QSignalSpy selection(&store, &LibraryStore::selectedChanged);
    store.addPlaylist(" \n\t \u2028");
    EXPECT_FALSE(QFileInfo::exists(dir + "/playlists.json"));
    store.addPlaylist("  Monitors ");
    store.setPlaylists(store.playlists());  // no real change
    store.setSelected(1);
    EXPECT_EQ(lists.count(), 1);
    EXPECT_EQ(selection.count(), 1);
    EXPECT_EQ(store.selected(), 1);
    LibraryStore again(dir);
    ASSERT_EQ(again.playlists().size(), 2);
    EXPECT_EQ(again.playlists()[1].name, "Monitors");
    EXPECT_EQ(again.selected(), 0);  // selection is not stored; neither playlist has tracks
    store.setPlaylists({store.playlists()[0]});
    EXPECT_EQ(store.selected(), 0);
}

TEST(LibraryStore, NonFiniteTrimFailsTheSaveAndLeavesTheFile) {
    const QString dir = freshDir("nan");
    LibraryStore store(dir);
    ASSERT_TRUE(store.save());
    const QByteArray before = read(dir + "/playlists.json");
    auto lists = store.playlists();
    lists[0].tracks.push_back({.title = "Bad", .filename = "b.wav", .trimDB = std::nan("")});
    store.setPlaylists(lists);
    EXPECT_FALSE(store.save());
    EXPECT_TRUE(store.message().startsWith("Save failed: ")) << store.message().toStdString();
    EXPECT_EQ(read(dir + "/playlists.json"), before);
    EXPECT_EQ(store.playlists()[0].tracks.size(), 1);
    const QString failure = store.message();
    lists[0].tracks[0].trimDB = -6;
    store.setPlaylists(lists);
    EXPECT_TRUE(store.save());
    EXPECT_EQ(store.message(), failure);  // success leaves the last message
}

// A file of an earlier build with a music track: the service's names changed since, its keys did not.
TEST(LibraryStore, StoredFileWithAMusicTrackLoadsAndIsWrittenBackByteForByte) {
    const QString dir = freshDir("stored");
    const QByteArray stored =
        R"([{"id":"5D2F0C54-6C1A-4E0B-9E5A-2B7C1F7A9D01","name":"Warm-up","tracks":[)"
        R"({"id":"0F8E3A1C-2B4D-4C6E-8A9B-1C2D3E4F5A6B","title":"Yesterday — The Band",)"
        R"("musicID":"songs/yesterday.wav","libraryMusic":true,"musicPayload":)"
        R"("eyJpZCI6InNvbmdzL3llc3RlcmRheS53YXYiLCJ0aXRsZSI6Illlc3RlcmRheSIsImFydGlzdE5hbWUiOiJUaGUgQmFuZCIsImR1)"
        R"(cmF0aW9uIjo1LjAsInBsYXlQYXJhbWV0ZXJzIjp7ImlkIjoic29uZ3MveWVzdGVyZGF5LndhdiIsImtpbmQiOiJzb25nIiwiY2F0)"
        R"(YWxvZ0lkIjoic29uZ3MveWVzdGVyZGF5LndhdiJ9fQ==","trimDB":0.0,"cueIn":0.0,"cueOut":0.0,"loop":false},)"
        R"({"id":"7A6B5C4D-3E2F-4A1B-9C8D-7E6F5A4B3C2D","title":"Kick","filename":"K.wav","libraryMusic":false,)"
        R"("trimDB":-3.0,"cueIn":1.5,"cueOut":0.0,"loop":true}]}])";
    write(dir + "/playlists.json", stored);
    LibraryStore store(dir);
    EXPECT_EQ(store.message(), "");
    ASSERT_EQ(store.playlists().size(), 1);
    const ReferenceTrack& music = store.playlists()[0].tracks[0];
    EXPECT_EQ(music.musicID, "songs/yesterday.wav");
    EXPECT_TRUE(music.libraryMusic);
    auto song = SongCoding::decode(music.musicPayload.value_or(QByteArray()).toStdString());
    ASSERT_TRUE(song.ok());
    EXPECT_EQ(song->artistName, "The Band");
    ASSERT_TRUE(store.save());
    EXPECT_EQ(read(dir + "/playlists.json"), stored);
}

TEST(LibraryStore, ImportMusicPlaylistReportsOrTakesItBack) {
    const QString dir = freshDir("music");
    LibraryStore store(dir);
    ReferenceTrack song{
        .title = "Song \u2014 Artist", .musicID = "i.1", .libraryMusic = true, .musicPayload = "{}"};
    EXPECT_TRUE(store.importMusicPlaylist(" \n", {song}));
    EXPECT_EQ(store.message(), "Imported music server playlist \u00B7 1 track");
    EXPECT_EQ(store.playlists().last().name, "Music server playlist");
    EXPECT_EQ(store.selected(), 1);
    EXPECT_TRUE(store.importMusicPlaylist("Warm-up %1", {}));
    EXPECT_EQ(store.message(), "Imported Warm-up %1 \u00B7 0 tracks");  // the name is no format string
    EXPECT_EQ(LibraryStore(dir).playlists().size(), 3);

    store.setSelected(0);
    QFile::remove(dir + "/playlists.json");
    QDir().mkpath(dir + "/playlists.json");  // the next write cannot replace a folder
    QSignalSpy lists(&store, &LibraryStore::playlistsChanged);
    EXPECT_FALSE(store.importMusicPlaylist("Lost", {song}));
    EXPECT_EQ(store.playlists().size(), 3);
    EXPECT_EQ(lists.count(), 2);  // added, then taken back: the screens drop the lost playlist too
    EXPECT_EQ(store.selected(), 0);
    EXPECT_TRUE(store.message().startsWith("Save failed: "));
}

}  // namespace quorvel
