// Start mic, Play and the other starts on a PulseAudio server that stops answering (pulseaudio, or
// PipeWire's PulseAudio side), stopped after the window listed the devices and before the window opened:
// FrozenServerActions.h.
#include <gtest/gtest.h>

#include "FrozenServerActions.h"
#include "PulseServers.h"

namespace quorvel {

namespace {

void checkFrozen(bool frozenFirst) {
    PulseServers::PrivateServer server;
    ASSERT_TRUE(server.start());
    // No JACK server of the machine's may stand in for the frozen one.
    setenv("JACK_DEFAULT_SERVER", "quorvel-no-such-server", 1);
    FrozenServerActions::check([&](bool frozen) { server.freeze(frozen); },
                               "The PulseAudio server is not responding", frozenFirst);
}

}  // namespace

TEST(FrozenPulseServer, StartsOnAServerFrozenAfterTheListingReturnAtOnceAndNameIt) {
    QUORVEL_SKIP_WITHOUT_PULSE_SERVER();
    checkFrozen(false);
}

TEST(FrozenPulseServer, StartsOnAServerFrozenBeforeTheWindowOpenedReturnAtOnceAndNameIt) {
    QUORVEL_SKIP_WITHOUT_PULSE_SERVER();
    checkFrozen(true);
}

}  // namespace quorvel
