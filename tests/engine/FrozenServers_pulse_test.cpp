// Start mic, Play and the other starts on a PulseAudio server that stops answering (pulseaudio, or
// PipeWire's PulseAudio side), stopped after the window listed the devices and before the window opened:
// FrozenServerActions.h.
#include <gtest/gtest.h>

#include "FrozenServerActions.h"
#include "PulseServers.h"

namespace quorvel {

class FrozenPulseServer : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { QUORVEL_SKIP_WITHOUT_PULSE_SERVER(); }
};

TEST_P(FrozenPulseServer, StartsReturnAtOnceNameTheServerAndWorkOnceItGoesOn) {
    PulseServers::PrivateServer server;
    ASSERT_TRUE(server.start());
    // No JACK server of the machine's may stand in for the frozen one.
    setenv("JACK_DEFAULT_SERVER", "quorvel-no-such-server", 1);
    FrozenServerActions::check([&](bool frozen) { server.freeze(frozen); },
                               "The PulseAudio server is not responding", GetParam());
}

INSTANTIATE_TEST_SUITE_P(, FrozenPulseServer, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "FrozenFirst" : "FrozenAfterListing";
                         });

}  // namespace quorvel
