#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "LibraryStore.h"
#include "LibraryTestFiles.h"

using namespace LibraryTestFiles;

namespace {

const QRegularExpression copyName("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.(.*)$");

// A store in its own folder, and a separate folder for the files to import.
struct Fixture {
    QString storage = freshDir("storage");
    QString source = freshDir("source");
    LibraryStore store{storage};

    const QList<ReferenceTrack>& tracks() const { return store.playlists()[store.selected()].tracks; }
    QStringList titles() const {
        QStringList out;
        for (const auto& t : tracks()) out << t.title;
        return out;
    }
    int copies() const { return int(QDir(storage).entryList({"*-*-*-*-*"}, QDir::Files).size()); }
};

}  // namespace

TEST(LibraryImport, AudioFilesAreCopiedUnderFreshNames) {
    Fixture f;
    for (const char* name : {"Kick Test.wav", "Drum.MP3", "a.b.wav", "noextension"}) writeWav(f.source + "/" + name);

    f.store.importFiles({f.source + "/Kick Test.wav", f.source + "/Drum.MP3", f.source + "/a.b.wav", f.source + "/noextension",
                         f.source + "/Kick Test.wav"});
    EXPECT_EQ(f.store.message(), "Import complete");
    ASSERT_EQ(f.titles(), (QStringList{"Kick Test", "Drum", "a.b", "noextension", "Kick Test"}));

    QStringList extensions;
    for (const auto& track : f.tracks()) {
        ASSERT_TRUE(track.filename.has_value());
        auto match = copyName.match(*track.filename);
        ASSERT_TRUE(match.hasMatch()) << track.filename->toStdString();
        extensions << match.captured(1);
        EXPECT_FALSE(track.musicID.has_value());
        EXPECT_EQ(track.trimDB, 0);
        EXPECT_FALSE(track.loop);
    }
    EXPECT_EQ(extensions, (QStringList{"wav", "MP3", "wav", "", "wav"}));
    // The same file twice: two entries and two copies.
    EXPECT_NE(f.tracks()[0].id, f.tracks()[4].id);
    EXPECT_NE(f.tracks()[0].filename, f.tracks()[4].filename);
    EXPECT_EQ(f.copies(), 5);
    EXPECT_EQ(read(f.storage + "/" + *f.tracks()[0].filename), read(f.source + "/Kick Test.wav"));

    LibraryStore reloaded(f.storage);  // saved once at the end
    EXPECT_EQ(reloaded.playlists()[0].tracks.size(), 5);
}

TEST(LibraryImport, PickedFilesThatAreNotAudioAreReported) {
    Fixture f;
    write(f.source + "/notes.txt", "just some words\n");
    writeWav(f.source + "/ok.wav");
    f.store.importFiles({f.source + "/notes.txt", f.source + "/ok.wav", f.source + "/gone.wav"});
    const QStringList lines = f.store.message().split('\n');
    ASSERT_EQ(lines.size(), 2) << f.store.message().toStdString();
    EXPECT_TRUE(lines[0].startsWith("notes.txt: ")) << lines[0].toStdString();
    EXPECT_GT(lines[0].size(), QString("notes.txt: ").size());
    EXPECT_TRUE(lines[1].startsWith("gone.wav: "));
    EXPECT_EQ(f.titles(), QStringList{"ok"});
    EXPECT_EQ(f.copies(), 1);
}

TEST(LibraryImport, PlaylistEntriesImportAndReportInOrder) {
    Fixture f;
    QDir().mkpath(f.source + "/tracks");
    writeWav(f.source + "/tracks/a.wav");
    writeWav(f.source + "/b.wav");
    const QString absolute = f.source + "/b.wav";
    const QByteArray crlf = "#EXTM3U\r\n#EXTINF:123,Artist - Title\r\n\r\ntracks/a.wav\r\nhttps://example.com/x.mp3\r\n"
                            "file://" + absolute.toUtf8() + "\r\n" + absolute.toUtf8() + "\r\nmissing.wav\r\ntracks/../b.wav\r\n";
    write(f.source + "/Set.M3U", crlf);
    QByteArray lf = crlf;
    lf.replace("\r\n", "\n");
    write(f.source + "/set-lf.m3u8", lf);

    f.store.importFiles({f.source + "/Set.M3U", f.source + "/set-lf.m3u8"});
    const QString issues = "Unsupported remote entry: https://example.com/x.mp3\n"
                           "Unsupported remote entry: file://" + absolute + "\n"
                           "missing.wav: import its audio file directly";
    EXPECT_EQ(f.store.message(), issues + "\n" + issues);
    EXPECT_EQ(f.titles(), (QStringList{"a", "b", "b", "a", "b", "b"}));
}

TEST(LibraryImport, PlaylistEncodingRules) {
    Fixture f;
    writeWav(f.source + "/song.wav");
    write(f.source + "/latin.m3u", "#EXTM3U\nsong.wav\ncaf\xE9.wav\n");
    f.store.importFiles({f.source + "/latin.m3u"});
    EXPECT_TRUE(f.store.message().startsWith("latin.m3u: ")) << f.store.message().toStdString();
    EXPECT_FALSE(f.store.message().contains('\n'));
    EXPECT_TRUE(f.tracks().isEmpty());

    write(f.source + "/bom.m3u8", "\xEF\xBB\xBF#EXTM3U\r\nsong.wav\r\n");
    f.store.importFiles({f.source + "/bom.m3u8"});
    EXPECT_EQ(f.store.message(), "Import complete");
    EXPECT_EQ(f.titles(), QStringList{"song"});
}

TEST(LibraryImport, OnlyRegularFilesAreOpened) {
    Fixture f;
    ASSERT_EQ(::mkfifo(QFile::encodeName(f.source + "/pipe.wav").constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(f.source + "/pipe.m3u").constData(), 0600), 0);
    QDir().mkpath(f.source + "/folder.wav");
    writeWav(f.source + "/real.wav");
    write(f.source + "/list.m3u", "pipe.wav\n/dev/zero\nfolder.wav\nreal.wav\n");
    ::alarm(60);  // opening a FIFO would block forever: end the test process instead of hanging

    f.store.importFiles({f.source + "/pipe.wav", f.source + "/pipe.m3u", f.source + "/list.m3u"});
    ::alarm(0);
    EXPECT_EQ(f.store.message(), "pipe.wav: Not a regular file\n"
                                 "pipe.m3u: Not a regular file\n"
                                 "pipe.wav: import its audio file directly\n"
                                 "zero: import its audio file directly\n"
                                 "folder.wav: import its audio file directly");
    EXPECT_EQ(f.titles(), QStringList{"real"});
}

TEST(LibraryImport, FailedSaveKeepsTracksAndShowsOnlyTheSaveFailure) {
    Fixture f;
    writeWav(f.source + "/a.wav");
    QDir().mkpath(f.storage + "/playlists.json");  // the save cannot replace a folder
    f.store.importFiles({f.source + "/a.wav", f.source + "/none.wav"});
    EXPECT_TRUE(f.store.message().startsWith("Save failed: ")) << f.store.message().toStdString();
    EXPECT_FALSE(f.store.message().contains("none.wav"));
    EXPECT_EQ(f.titles(), QStringList{"a"});
    EXPECT_EQ(f.copies(), 1);
}
