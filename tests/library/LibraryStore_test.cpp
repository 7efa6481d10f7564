#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <cmath>

#include "LibraryStore.h"
#include "LibraryTestFiles.h"
#include "StoreFiles.h"

using namespace LibraryTestFiles;

namespace {

ReferencePlaylist withTracks(const QString& name, int count) {
    ReferencePlaylist p{.name = name};
    for (int i = 0; i < count; ++i) p.tracks.push_back(ReferenceTrack{.title = name + QString::number(i), .filename = "f.wav"});
    return p;
}

void writeList(const QString& dir, const QList<ReferencePlaylist>& list) {
    write(dir + "/playlists.json", *ReferencePlaylist::encodeList(list));
}

QStringList keptAside(const QString& dir) {
    return QDir(dir).entryList({"playlists.unreadable-*.json"}, QDir::Files);
}

}  // namespace

TEST(LibraryStore, FirstStartCreatesFolderAndKeepsDefaultUnsaved) {
    const QString root = freshDir("first") + "/nested/Quorvel";
    LibraryStore store(root);
    EXPECT_TRUE(QFileInfo(root).isDir());
    EXPECT_EQ(store.message(), "");
    ASSERT_EQ(store.playlists().size(), 1);
    EXPECT_EQ(store.playlists()[0].name, "My Quorvel");
    EXPECT_TRUE(store.playlists()[0].tracks.isEmpty());
    EXPECT_EQ(store.selected(), 0);
    EXPECT_FALSE(QFileInfo::exists(root + "/playlists.json"));

    LibraryStore standard;
    EXPECT_EQ(standard.root(), StoreFiles::storageDirectory());
    EXPECT_TRUE(QFileInfo(standard.root()).isDir());
}

TEST(LibraryStore, StartSelectsLastPlaylistWithTracks) {
    const QString dir = freshDir("select");
    writeList(dir, {withTracks("A", 3), withTracks("B", 0), withTracks("C", 2), withTracks("D", 0)});
    LibraryStore store(dir);
    EXPECT_EQ(store.selected(), 2);
    EXPECT_EQ(store.playlists().size(), 4);
    EXPECT_EQ(store.message(), "");

    writeList(dir, {withTracks("A", 0), withTracks("B", 0)});
    EXPECT_EQ(LibraryStore(dir).selected(), 0);

    write(dir + "/playlists.json", "[]");
    LibraryStore empty(dir);
    EXPECT_EQ(empty.message(), "");
    ASSERT_EQ(empty.playlists().size(), 1);
    EXPECT_EQ(empty.playlists()[0].name, "My Quorvel");
}

TEST(LibraryStore, UndecodableFileIsReportedAndKeptBeforeAnySave) {
    const QString dir = freshDir("undecodable");
    // One track without "loop": the whole file fails to decode.
    const QByteArray original = R"([{"id":"0D5F3C2A-1B4E-4C6D-8E9F-A0B1C2D3E4F5","name":"Gig","tracks":[{"id":"1D5F3C2A-1B4E-4C6D-8E9F-A0B1C2D3E4F5","title":"Kick","filename":"a.wav","libraryMusic":false,"trimDB":0,"cueIn":0,"cueOut":0}]}])";
    write(dir + "/playlists.json", original);

    LibraryStore store(dir);
    EXPECT_TRUE(store.message().startsWith("Library could not be loaded: ")) << store.message().toStdString();
    EXPECT_TRUE(store.message().contains("loop"));
    ASSERT_EQ(store.playlists().size(), 1);
    EXPECT_EQ(store.playlists()[0].name, "My Quorvel");

    const QStringList kept = keptAside(dir);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(read(dir + "/" + kept[0]), original);

    store.addPlaylist("New");
    EXPECT_NE(read(dir + "/playlists.json"), original);
    EXPECT_EQ(read(dir + "/" + kept[0]), original);
    EXPECT_EQ(keptAside(dir).size(), 1);
}

TEST(LibraryStore, UnreadableFileThatCannotBeKeptBlocksSaves) {
    const QString dir = freshDir("blocked");
    QDir().mkpath(dir + "/playlists.json");  // a folder in the file's place: neither readable nor copyable
    LibraryStore store(dir);
    EXPECT_TRUE(store.message().startsWith("Library could not be loaded: "));
    EXPECT_FALSE(store.save());
    EXPECT_TRUE(store.message().startsWith("Save failed: "));
    EXPECT_TRUE(QFileInfo(dir + "/playlists.json").isDir());

    QDir(dir + "/playlists.json").removeRecursively();  // gone meanwhile: nothing left to protect
    EXPECT_TRUE(store.save());
    EXPECT_EQ(LibraryStore(dir).playlists().size(), 1);
}

TEST(LibraryStore, AddPlaylistTrimsSelectsSavesAndAnnounces) {
    const QString dir = freshDir("add");
    LibraryStore store(dir);
    QSignalSpy lists(&store, &LibraryStore::playlistsChanged);
    QSignalSpy selection(&store, &LibraryStore::selectedChanged);

    store.addPlaylist(" \n\t \u2028");
    EXPECT_EQ(store.playlists().size(), 1);
    EXPECT_FALSE(QFileInfo::exists(dir + "/playlists.json"));
    EXPECT_EQ(lists.count(), 0);

    store.addPlaylist("  Monitors ");
    ASSERT_EQ(store.playlists().size(), 2);
    EXPECT_EQ(store.playlists()[1].name, "Monitors");
    EXPECT_EQ(store.selected(), 1);
    EXPECT_EQ(lists.count(), 1);
    EXPECT_EQ(selection.count(), 1);

    LibraryStore again(dir);
    ASSERT_EQ(again.playlists().size(), 2);
    EXPECT_EQ(again.playlists()[1].id, store.playlists()[1].id);

    store.setPlaylists(store.playlists());  // no real change: no announcement
    store.setSelected(1);
    EXPECT_EQ(lists.count(), 1);
    EXPECT_EQ(selection.count(), 1);
}

TEST(LibraryStore, FailedSaveReportsAndLeavesFileUntouched) {
    const QString dir = freshDir("nan");
    LibraryStore store(dir);
    ASSERT_TRUE(store.save());
    const QByteArray before = read(dir + "/playlists.json");

    auto lists = store.playlists();
    lists[0].tracks.push_back(ReferenceTrack{.title = "Bad", .filename = "b.wav", .trimDB = std::nan("")});
    store.setPlaylists(lists);
    EXPECT_FALSE(store.save());
    EXPECT_TRUE(store.message().startsWith("Save failed: ")) << store.message().toStdString();
    const QString failure = store.message();
    EXPECT_EQ(read(dir + "/playlists.json"), before);
    EXPECT_EQ(store.playlists()[0].tracks.size(), 1);  // memory keeps the change

    lists[0].tracks[0].trimDB = -6;
    store.setPlaylists(lists);
    EXPECT_TRUE(store.save());
    EXPECT_EQ(store.message(), failure);  // success does not clear the last message
    EXPECT_EQ(LibraryStore(dir).playlists()[0].tracks[0].trimDB, -6);
}

TEST(LibraryStore, ImportMusicPlaylistReportsOrTakesItBack) {
    const QString dir = freshDir("music");
    LibraryStore store(dir);
    ReferenceTrack song{.title = "Song \u2014 Artist", .musicID = "i.1", .libraryMusic = true, .musicPayload = QByteArray("{}")};

    EXPECT_TRUE(store.importMusicPlaylist(" \n", {song}));
    EXPECT_EQ(store.message(), "Imported Apple Music playlist \u00B7 1 track");
    EXPECT_EQ(store.selected(), 1);
    EXPECT_TRUE(store.importMusicPlaylist("Warm-up %1", {}));
    EXPECT_EQ(store.message(), "Imported Warm-up %1 \u00B7 0 tracks");
    EXPECT_EQ(LibraryStore(dir).playlists()[1].tracks[0].musicPayload, QByteArray("{}"));

    store.setSelected(0);
    QFile::remove(dir + "/playlists.json");
    QDir().mkpath(dir + "/playlists.json");  // the next write cannot replace a folder
    EXPECT_FALSE(store.importMusicPlaylist("Lost", {song, song}));
    EXPECT_EQ(store.playlists().size(), 3);
    EXPECT_EQ(store.playlists().last().name, "Warm-up %1");
    EXPECT_EQ(store.selected(), 0);
    EXPECT_TRUE(store.message().startsWith("Save failed: "));
}
