// Start mic, Play and the other starts on a JACK server that stops answering (jackd, or PipeWire through its
// JACK side), stopped after the window listed the devices and before the window opened:
// FrozenServerActions.h.
#include <gtest/gtest.h>

#include "FrozenServerActions.h"
#include "JackFreezableServer.h"
#include "JackServers.h"

namespace quorvel {

class FrozenJackServer : public ::testing::TestWithParam<bool> {};

TEST_P(FrozenJackServer, StartsReturnAtOnceNameTheServerAndWorkOnceItGoesOn) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    JackFreezableServer server;
    ASSERT_TRUE(server.start());
    // No PulseAudio server may stand in for the frozen one: JACK's devices are the defaults.
    setenv("PULSE_SERVER", "unix:/nonexistent/quorvel-no-such-server", 1);
    FrozenServerActions::check([&](bool frozen) { server.freeze(frozen); },
                               "The JACK server is not responding", GetParam());
}

INSTANTIATE_TEST_SUITE_P(, FrozenJackServer, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "FrozenFirst" : "FrozenAfterListing";
                         });

}  // namespace quorvel
