#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QRegularExpression>

#include "LibraryTestFiles.h"
#include "library/LibraryStore.h"

namespace quorvel {

using namespace LibraryTestFiles;

namespace {
// A store in its own folder, and another folder for the files to import.
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
    qsizetype copies() const { return QDir(storage).entryList({"*-*-*-*-*"}, QDir::Files).size(); }
};
}  // namespace

TEST(LibraryImport, AudioFilesAreCopiedUnderFreshNamesAndOthersReported) {
    Fixture f;
    for (const char* name : {"Kick Test.wav", "Drum.MP3", "a.b.wav", "noextension"})
        writeWav(f.source + "/" + name);
    write(f.source + "/notes.txt", "just words\n");
    f.store.importFiles({f.source + "/Kick Test.wav", f.source + "/notes.txt", f.source + "/Drum.MP3",
                         f.source + "/a.b.wav", f.source + "/noextension", f.source + "/Kick Test.wav"});

    const QStringList issues = f.store.message().split('\n');
    ASSERT_EQ(issues.size(), 1);
    EXPECT_TRUE(issues[0].startsWith("notes.txt: ") && issues[0].size() > 12) << issues[0].toStdString();
    ASSERT_EQ(f.titles(), (QStringList{"Kick Test", "Drum", "a.b", "noextension", "Kick Test"}));
    const QRegularExpression copyName("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.(.*)$");
    QStringList extensions;
    for (const auto& track : f.tracks())
        extensions << copyName.match(track.filename.value_or("")).captured(2);
    EXPECT_EQ(extensions, (QStringList{"wav", "MP3", "wav", "", "wav"}));
    EXPECT_NE(f.tracks()[0].id, f.tracks()[4].id);
    EXPECT_EQ(f.copies(), 5);
    EXPECT_EQ(read(f.storage + "/" + *f.tracks()[0].filename), read(f.source + "/Kick Test.wav"));
    EXPECT_EQ(LibraryStore(f.storage).playlists()[0].tracks.size(), 5);  // saved
}

TEST(LibraryImport, PlaylistEntriesImportAndReportInOrder) {
    Fixture f;
    QDir().mkpath(f.source + "/tracks");
    writeWav(f.source + "/tracks/a.wav");
    writeWav(f.source + "/b.wav");
    const QByteArray b = (f.source + "/b.wav").toUtf8();
    const QByteArray crlf =
        "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:123,Artist - Title\r\n\r\ntracks/a.wav\r\nhttps://h/x.mp3\r\n"
        "file://" +
        b + "\r\n" + b + "\r\nmissing.wav\r\ntracks/../b.wav\r\n";
    write(f.source + "/Set.M3U", crlf);
    write(f.source + "/set-lf.m3u8", QByteArray(crlf).replace("\r\n", "\n"));
    f.store.importFiles({f.source + "/Set.M3U", f.source + "/set-lf.m3u8"});
    const QString issues = "Unsupported remote entry: https://h/x.mp3\nUnsupported remote entry: file://" +
                           b + "\nmissing.wav: import its audio file directly";
    EXPECT_EQ(f.store.message(), issues + "\n" + issues);
    EXPECT_EQ(f.titles(), (QStringList{"a", "b", "b", "a", "b", "b"}));

    write(f.source + "/latin.m3u", "tracks/a.wav\ncaf\xE9.wav\n");
    f.store.importFiles({f.source + "/latin.m3u"});
    EXPECT_TRUE(f.store.message().startsWith("latin.m3u: ") && !f.store.message().contains('\n'));
    EXPECT_EQ(f.tracks().size(), 6);
}

TEST(LibraryImport, OnlyRegularFilesAreOpened) {
    Fixture f;
    ASSERT_EQ(::mkfifo(QFile::encodeName(f.source + "/pipe.wav").constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(f.source + "/pipe.m3u").constData(), 0600), 0);
    QDir().mkpath(f.source + "/folder.wav");
    writeWav(f.source + "/real.wav");
    write(f.source + "/list.m3u", "pipe.wav\n/dev/zero\nfolder.wav\nreal.wav\n");
    ::alarm(60);  // opening a FIFO would block for ever: end the process instead of hanging
    f.store.importFiles({f.source + "/pipe.wav", f.source + "/pipe.m3u", f.source + "/list.m3u"});
    ::alarm(0);
    EXPECT_EQ(f.store.message(),
              "pipe.wav: Not a regular file\npipe.m3u: Not a regular file\n"
              "pipe.wav: import its audio file directly\nzero: import its audio file directly\n"
              "folder.wav: import its audio file directly");
    EXPECT_EQ(f.titles(), QStringList{"real"});
}

TEST(LibraryImport, FailedSaveKeepsTracksAndShowsOnlyTheSaveFailure) {
    Fixture f;
    writeWav(f.source + "/a.wav");
    QDir().mkpath(f.storage + "/playlists.json");  // the save cannot replace a folder
    f.store.importFiles({f.source + "/a.wav", f.source + "/none.wav"});
    EXPECT_TRUE(f.store.message().startsWith("Save failed: ")) << f.store.message().toStdString();
    EXPECT_EQ(f.titles(), QStringList{"a"});
    EXPECT_EQ(f.copies(), 1);
}

}  // namespace quorvel
