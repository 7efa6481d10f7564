#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "LibraryTestFiles.h"
#include "library/LibraryStore.h"

namespace quorvel {

// A child saves new versions without end, each writing its number into every trim (a file mixing two
// saves would have differing trims), and is killed at a random moment: the file must always decode, to
// a version newer than the last.
TEST(LibraryStoreKill, SaveKilledAtAnyMomentLeavesAWholeFile) {
    const QString dir = LibraryTestFiles::freshDir("kill");
    const auto versionOf = [](const QList<ReferencePlaylist>& list) {
        for (const auto& playlist : list)
            for (const auto& track : playlist.tracks)
                if (track.trimDB != list[0].tracks[0].trimDB) return -1;
        return int(list[0].tracks[0].trimDB);
    };
    {
        // About 0.5 MB, so that a save takes long enough for kills to land in the middle of writing.
        LibraryStore store(dir);
        ReferenceTrack track{
            .title = "Song \u2014 Artist", .musicID = "i.1", .musicPayload = QByteArray(1200, 'x')};
        store.setPlaylists(
            QList<ReferencePlaylist>(8, {.name = "Set", .tracks = QList<ReferenceTrack>(40, track)}));
        ASSERT_TRUE(store.save());
    }
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> delayUS(0, 6000);
    int lastVersion = 0;
    for (int kill = 0; kill < 150; ++kill) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ends[0]);
            LibraryStore store(dir);
            auto list = store.playlists();
            for (int version = versionOf(list) + 1;; ++version) {
                for (auto& playlist : list)
                    for (auto& track : playlist.tracks) track.trimDB = version;
                store.setPlaylists(list);
                if (!store.save()) _exit(3);
                if (ends[1] >= 0) {  // the parent kills only once the child is in its saving loop
                    [[maybe_unused]] auto written = write(ends[1], "s", 1);
                    close(std::exchange(ends[1], -1));
                }
            }
        }
        close(ends[1]);
        char byte = 0;
        ASSERT_EQ(read(ends[0], &byte, 1), 1) << "the child ended before its first save";
        close(ends[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(delayUS(random)));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
        auto decoded = ReferencePlaylist::decodeList(LibraryTestFiles::read(dir + "/playlists.json"));
        ASSERT_TRUE(decoded.ok()) << "after kill " << kill << ": " << decoded.error().description;
        const int version = versionOf(*decoded);
        ASSERT_GT(version, lastVersion) << "after kill " << kill;
        lastVersion = version;
    }
}

}  // namespace quorvel
