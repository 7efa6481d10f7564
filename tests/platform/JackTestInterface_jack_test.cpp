// The loopback test interface that the JACK tests measure through (tests/fixtures/qv_jack_interface.cpp):
// it must stay up for as long as its server runs it, or the tests after it fail at random.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>

#include "JackServers.h"
#include "JackTestServer.h"
#include "TestHome.h"
#include "Waits.h"

namespace quorvel {

namespace {

std::string contents(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

// PipeWire's libjack tells a client of a shutdown when the server refuses its request to follow a port that
// went away before the request arrived, and then goes on running it. An interface that was busy (here:
// stopped) while another client came and went must carry on.
TEST(JackTestInterface, OutlivesAClientThatCameAndWentWhileItWasBusy) {
    QUORVEL_PIPEWIRE_ONLY("jackd tells a shutdown only when the client really goes, and with its reason");
    JackTestServer peers;
    const std::string busy = "qv-busy-" + std::to_string(getpid());
    const std::string log = TestHome::freshDir("interface") + "/" + busy + ".log";
    ASSERT_TRUE(peers.startInterface(QUORVEL_JACK_INTERFACE,
                                     {"--name", busy, "--capture", "1", "--playback", "1"},
                                     busy + ":capture_1", log));
    const pid_t busyPid = peers.lastInterface();

    ::kill(busyPid, SIGSTOP);
    const std::string visitor = "qv-passing-" + std::to_string(getpid());
    const bool visited =
        peers.startInterface(QUORVEL_JACK_INTERFACE, {"--name", visitor, "--capture", "1", "--playback", "1"},
                             visitor + ":capture_1");
    peers.stopLastInterface();
    const bool left =
        pollUntil([&] { return !JackTestServer::listed(visitor + ":capture_1"); }, std::chrono::seconds(30));
    ::kill(busyPid, SIGCONT);
    ASSERT_TRUE(visited);
    ASSERT_TRUE(left);

    // The interface says which way it decided once it has heard of the shutdown.
    EXPECT_TRUE(pollUntil(
        [&] {
            const std::string text = contents(log);
            return text.find("still runs it") != std::string::npos ||
                   text.find("stopped running") != std::string::npos;
        },
        std::chrono::seconds(30)));
    EXPECT_NE(contents(log).find("still runs it"), std::string::npos) << contents(log);
    EXPECT_TRUE(JackTestServer::listed(busy + ":capture_1")) << contents(log);
}

}  // namespace quorvel
