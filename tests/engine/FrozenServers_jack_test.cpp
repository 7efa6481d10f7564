// Start mic, Play and the other starts on a JACK server that stops answering (jackd, or PipeWire through its
// JACK side), stopped after the window listed the devices and before the window opened:
// FrozenServerActions.h. The server is a private one (ServerRestartJack: one such test at a time).
#include <gtest/gtest.h>

#include "FrozenServerActions.h"
#include "JackFreezableServer.h"
#include "JackServers.h"

namespace quorvel {

namespace {

void checkFrozen(bool frozenFirst) {
    JackFreezableServer server;
    ASSERT_TRUE(server.start());
    // No PulseAudio server may stand in for the frozen one: JACK's devices are the defaults.
    setenv("PULSE_SERVER", "unix:/nonexistent/quorvel-no-such-server", 1);
    FrozenServerActions::check([&](bool frozen) { server.freeze(frozen); },
                               "The JACK server is not responding", frozenFirst);
}

}  // namespace

TEST(ServerRestartJack, StartsOnAServerFrozenAfterTheListingReturnAtOnceAndNameIt) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    checkFrozen(false);
}

TEST(ServerRestartJack, StartsOnAServerFrozenBeforeTheWindowOpenedReturnAtOnceAndNameIt) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    checkFrozen(true);
}

}  // namespace quorvel
