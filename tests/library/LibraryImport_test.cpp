#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QtEndian>

#include "LibraryTestFiles.h"
#include "dsp/FileProcessor.h"
#include "library/LibraryStore.h"
#include "platform/AudioFile.h"

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
    // Imports and waits until the tracks are in and saved.
    void import(const QStringList& paths) {
        store.importFiles(paths);
        ASSERT_TRUE(QTest::qWaitFor([this] { return !store.importing(); }, 60000));
    }
};
}  // namespace

TEST(LibraryImport, AudioFilesAreCopiedUnderFreshNamesAndOthersReported) {
    Fixture f;
    for (const char* name : {"Kick Test.wav", "Drum.MP3", "a.b.wav", "noextension"})
        writeWav(f.source + "/" + name);
    write(f.source + "/notes.txt", "just words\n");
    QSignalSpy changed(&f.store, &LibraryStore::playlistsChanged);
    f.import({f.source + "/Kick Test.wav", f.source + "/notes.txt", f.source + "/Drum.MP3",
              f.source + "/a.b.wav", f.source + "/noextension", f.source + "/Kick Test.wav"});

    const QStringList issues = f.store.message().split('\n');
    ASSERT_EQ(issues.size(), 1);
    EXPECT_TRUE(issues[0].startsWith("notes.txt: ") && issues[0].size() > 12) << issues[0].toStdString();
    ASSERT_EQ(f.titles(), (QStringList{"Kick Test", "Drum", "a.b", "noextension", "Kick Test"}));
    EXPECT_EQ(changed.count(), 1) << "the pages learn of the new tracks at once";
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
    f.import({f.source + "/Set.M3U", f.source + "/set-lf.m3u8"});
    const QString issues = "Unsupported remote entry: https://h/x.mp3\nUnsupported remote entry: file://" +
                           b + "\nmissing.wav: import its audio file directly";
    EXPECT_EQ(f.store.message(), issues + "\n" + issues);
    EXPECT_EQ(f.titles(), (QStringList{"a", "b", "b", "a", "b", "b"}));

    write(f.source + "/latin.m3u", "tracks/a.wav\ncaf\xE9.wav\n");
    f.import({f.source + "/latin.m3u"});
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
    f.import({f.source + "/pipe.wav", f.source + "/pipe.m3u", f.source + "/list.m3u"});
    ::alarm(0);
    EXPECT_EQ(f.store.message(),
              "pipe.wav: Not a regular file\npipe.m3u: Not a regular file\n"
              "pipe.wav: import its audio file directly\nzero: import its audio file directly\n"
              "folder.wav: import its audio file directly");
    EXPECT_EQ(f.titles(), QStringList{"real"});
}

// A clean import says so; a failed save keeps the tracks and reports its failure and then the import's.
TEST(LibraryImport, FailedSaveKeepsTracksAndReportsBothFailures) {
    Fixture f;
    writeWav(f.source + "/a.wav");
    f.import({f.source + "/a.wav"});
    EXPECT_EQ(f.store.message(), "Import complete");
    QFile::remove(f.storage + "/playlists.json");
    QDir().mkpath(f.storage + "/playlists.json");  // the save cannot replace a folder
    f.import({f.source + "/a.wav", f.source + "/none.wav"});
    const QStringList lines = f.store.message().split('\n');
    ASSERT_EQ(lines.size(), 2) << f.store.message().toStdString();
    EXPECT_TRUE(lines[0].startsWith("Save failed: ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("none.wav: ") && lines[1].size() > 10) << lines[1].toStdString();
    EXPECT_EQ(f.titles(), (QStringList{"a", "a"}));
    EXPECT_EQ(f.copies(), 2);
}

// A file the player cannot play (here 1 000 channels) is refused at import, with the player's words.
TEST(LibraryImport, AudioThePlayerCannotPlayIsRefusedWithItsMessage) {
    Fixture f;
    const QString wide = f.source + "/wide.wav";
    {
        AudioBuffer silence(*AudioFormat::standard(48000, 1000), 480);
        silence.setFrameLength(480);
        auto writer = AudioFileWriter::create(wide.toStdString(), silence.format());
        ASSERT_TRUE(writer && writer->write(silence) && writer->close());
    }
    writeWav(f.source + "/mono.wav");
    f.import({wide, f.source + "/mono.wav"});
    const auto played = FileProcessor::render(wide.toStdString(), FileProcessSettings{});
    ASSERT_FALSE(played);
    EXPECT_EQ(f.store.message(), "wide.wav: " + QString::fromStdString(played.error().description));
    EXPECT_EQ(f.titles(), QStringList{"mono"});
    EXPECT_EQ(f.copies(), 1);
}

// Copies run beside the window into the playlist selected at the start; a store that goes leaves nothing.
TEST(LibraryImport, CopiesRunOffTheMainThreadAndStopWithTheStore) {
    Fixture f;
    for (const char* name : {"a.wav", "b.wav"}) writeWav(f.source + "/" + name);
    write(f.source + "/list.m3u", "b.wav\nhttp://radio/x\n");
    QStringList messages;
    QObject::connect(&f.store, &LibraryStore::messageChanged, [&] { messages << f.store.message(); });
    f.store.importFiles({f.source + "/a.wav", f.source + "/list.m3u", f.source + "/missing.wav"});
    EXPECT_TRUE(f.store.importing());
    f.store.addPlaylist("Chosen meanwhile");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.store.importing(); }, 60000));
    ASSERT_EQ(messages.size(), 4);
    EXPECT_EQ(messages.mid(0, 3),
              (QStringList{"Importing 1 of 3: a.wav\u2026", "Importing 2 of 3: b.wav\u2026",
                           "Importing 3 of 3: missing.wav\u2026"}));
    EXPECT_TRUE(messages[3].startsWith("Unsupported remote entry: http://radio/x\nmissing.wav: "))
        << messages[3].toStdString();
    EXPECT_EQ(f.store.playlists()[0].tracks.size(), 2);
    EXPECT_EQ(f.titles(), QStringList{});
    EXPECT_EQ(LibraryStore(f.storage).playlists()[0].tracks.size(), 2);  // saved

    // A large file: the store goes while it is being copied.
    const QString big = f.source + "/big.wav";
    {
        QFile wav(big);
        ASSERT_TRUE(wav.open(QIODevice::WriteOnly));
        const qint64 dataBytes = qint64(1) << 30;  // sparse: the copy reads zeros and writes them
        QByteArray header(
            "RIFF....WAVEfmt \x10\0\0\0\x01\0\x01\0\x80\xBB\0\0\0\x77\x01\0\x02\0\x10\0data....", 44);
        qToLittleEndian<quint32>(quint32(36 + dataBytes), header.data() + 4);
        qToLittleEndian<quint32>(quint32(dataBytes), header.data() + 40);
        wav.write(header);
        ASSERT_TRUE(wav.resize(44 + dataBytes));
    }
    const qsizetype copiesBefore = f.copies();
    auto going = std::make_unique<LibraryStore>(f.storage);
    going->importFiles({big});
    ASSERT_TRUE(QTest::qWaitFor([&] { return going->message().startsWith("Importing 1 of 1"); }, 60000));
    going.reset();
    EXPECT_EQ(f.copies(), copiesBefore);
    EXPECT_EQ(QDir(f.storage)
                  .entryList(QDir::Files | QDir::Hidden)
                  .filter(QRegularExpression("^[0-9A-F]{8}-"))
                  .size(),
              copiesBefore);
    EXPECT_EQ(LibraryStore(f.storage).playlists()[0].tracks.size(), 2);
}

}  // namespace quorvel
