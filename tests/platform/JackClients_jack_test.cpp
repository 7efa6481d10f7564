// The process's JACK client on a private server killed while a stream of it is still open.
#include <gtest/gtest.h>

#include "JackOpenLocked.h"
#include "JackTestServer.h"
#include "Waits.h"
#include "platform/JackClients.h"
#include "platform/TapCollector.h"

namespace quorvel {

using namespace std::chrono_literals;

// Until the dead server's last stream is closed, nothing opens a client beside it: the listing and a new
// stream wait for it, and past their bound fail with a clear error. Then the new server is found.
TEST(ServerRestartJack, NothingOpensWhileAStoppedServersStreamIsOpen) {
    JackTestServer server(JackTestServer::privateName("restart"));
    ASSERT_TRUE(server.start());
    JackStream stream;
    ASSERT_TRUE(stream.open({"system", 2}, {"system", 2}));
    TapCollector collector;
    collector.prepare(2, stream.periodFrames());
    const AudioTap tap = [](const AudioInputBlock&) {};
    const AudioRender render = [](float* const*, int, std::int64_t) {};
    ASSERT_TRUE(stream.start({&collector, &tap, &render}));
    ASSERT_TRUE(pollUntil([&] { return stream.periods() > 2; }, 30s));
    const int opensBefore = JackOpenLocked::opensWhileHeld();

    server.kill();
    ASSERT_TRUE(pollUntil([&] { return stream.doomed(); }, 30s));
    ASSERT_TRUE(server.start());
    EXPECT_FALSE(JackClients::list());
    JackStream second;
    const Status refused = second.open({}, {"system", 2});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().description, "The JACK server stopped and its streams are still closing");
    EXPECT_EQ(JackOpenLocked::opensWhileHeld(), opensBefore);

    stream.close();
    EXPECT_EQ(JackOpenLocked::clientsHeld(), 0);
    server.release();
    const auto listing = JackClients::list();
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->devices.size(), 1u) << "the new server's system ports";
    EXPECT_TRUE(second.open({}, {"system", 2}));
}

}  // namespace quorvel
