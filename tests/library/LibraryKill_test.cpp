#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <chrono>
#include <random>
#include <thread>

#include "LibraryStore.h"
#include "LibraryTestFiles.h"

using namespace LibraryTestFiles;

namespace {

// A library big enough (about 0.5 MB on disk) that a save takes a while, so that kills land mid-write.
QList<ReferencePlaylist> bigLibrary() {
    QList<ReferencePlaylist> list;
    for (int p = 0; p < 8; ++p) {
        ReferencePlaylist playlist{.name = "Set " + QString::number(p)};
        for (int t = 0; t < 40; ++t)
            playlist.tracks.push_back(ReferenceTrack{.title = "Song \u2014 Artist", .musicID = "i.1", .musicPayload = QByteArray(1200, char('a' + t % 26))});
        list.push_back(playlist);
    }
    return list;
}

// Every save writes one version number into every trim, so a file mixing two saves shows up as
// differing trims. Returns the version, or -1 when the file is not one whole version.
int versionOf(const QList<ReferencePlaylist>& list) {
    const double version = list[0].tracks[0].trimDB;
    for (const auto& playlist : list)
        for (const auto& track : playlist.tracks)
            if (track.trimDB != version) return -1;
    return int(version);
}

// Saves new versions until killed; writes one byte to `ready` after the first save.
[[noreturn]] void saveForever(const QString& dir, int ready) {
    LibraryStore store(dir);
    auto list = store.playlists();
    for (int version = versionOf(list) + 1;; ++version) {
        for (auto& playlist : list)
            for (auto& track : playlist.tracks) track.trimDB = version;
        store.setPlaylists(list);
        if (!store.save()) _exit(3);
        if (ready >= 0) {
            (void)!write(ready, "s", 1);
            close(ready);
            ready = -1;
        }
    }
}

}  // namespace

TEST(LibraryStoreKill, SaveKilledAtAnyMomentLeavesADecodableFile) {
    const QString dir = freshDir("kill");
    {
        LibraryStore store(dir);
        auto list = bigLibrary();
        store.setPlaylists(list);
        ASSERT_TRUE(store.save());
    }
    std::mt19937 random(20240611);  // fixed: the kill moments still vary with the machine's timing
    std::uniform_int_distribution<int> delayUS(0, 6000);
    const int kills = 300;
    int lastVersion = 0;
    for (int i = 0; i < kills; ++i) {
        int pipeEnds[2];
        ASSERT_EQ(pipe(pipeEnds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipeEnds[0]);
            saveForever(dir, pipeEnds[1]);
        }
        close(pipeEnds[1]);
        // Kill only once the child is saving in its loop, then at a random moment of it.
        char byte = 0;
        ASSERT_EQ(::read(pipeEnds[0], &byte, 1), 1) << "the saving child ended before its first save";
        close(pipeEnds[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(delayUS(random)));
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child stopped by itself, status " << status;

        auto decoded = ReferencePlaylist::decodeList(read(dir + "/playlists.json"));
        ASSERT_TRUE(decoded.ok()) << "after kill " << i << ": " << decoded.error().description;
        ASSERT_EQ(decoded->size(), 8);
        const int version = versionOf(*decoded);
        ASSERT_GT(version, lastVersion) << "after kill " << i;
        lastVersion = version;
    }
    EXPECT_TRUE(QDir(dir).entryList({"playlists.unreadable-*"}).isEmpty());
}
