// Shutting the service down while a call hangs on a server that answers one line every 4 s.
#include "engine/ThreadedMusicService.h"

#include <gtest/gtest.h>

#include <QTest>
#include <chrono>

#include "FakeMpd.h"
#include "UiChecks.h"
#include "platform/MpdMusicClient.h"

namespace quorvel {

TEST(ThreadedMusicService, QuittingCutsACallUnderWayShort) {
    using namespace std::chrono_literals;
    FakeMpd slow(FakeMpd::slow(4s, 15, "playlist: slow\n"));
    // A deadline of a minute: the old wait for the call's end.
    auto service = std::make_unique<ThreadedMusicService>(
        std::make_shared<MpdMusicClient>(MpdMusicClient::Options{"127.0.0.1", slow.port(), "", 60000}));
    QObject context;
    service->libraryPlaylists(&context, 100, [](Result<PlaylistBatch>) {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return slow.accepted() == 1; }, 30000));

    const auto start = std::chrono::steady_clock::now();
    // The call ends once abandoned: nothing is left behind, so nothing is said about it.
    EXPECT_EQ(warningsDuring([&] { service.reset(); }), QStringList());
    // At most a second by design; generous here for a loaded machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    // The abandoned call's connection was shut down, not left to the server.
    EXPECT_TRUE(QTest::qWaitFor([&] { return slow.finished() == 1; }, 5000));
}

}  // namespace quorvel
