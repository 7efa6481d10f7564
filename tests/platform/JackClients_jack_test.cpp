// The process's JACK client: how a device's ports are numbered, and a private server killed while a
// stream of the client is still open.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <unistd.h>

#include <barrier>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>

#include "JackFreezableServer.h"
#include "JackOpenLocked.h"
#include "JackServers.h"
#include "JackTestServer.h"
#include "LoopbackRecorder.h"
#include "PipeWireTestServer.h"
#include "Waits.h"
#include "platform/JackClients.h"
#include "platform/LinuxAudioSystem.h"
#include "platform/TapCollector.h"

namespace quorvel {

using namespace std::chrono_literals;

// A device's channels follow its port names, not the order in which the server lists its ports (under
// PipeWire the ports of every node of one name, in the order the nodes came): playback ports, then other
// inputs, for its outputs; capture ports, then monitor ports, then other outputs, for its inputs.
TEST(JackPorts, ChannelsAreNumberedByPortNameWhateverTheServersOrder) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    const std::string device = "qv-ports-" + std::to_string(getpid());
    jack_status_t status{};
    jack_client_t* client = jack_client_open(device.c_str(), JackNoStartServer, &status);
    ASSERT_TRUE(client);
    // As a source and then a sink of one name come under PipeWire, with a program's port among them.
    const std::vector<std::pair<std::string, unsigned long>> registered{
        {"input_1", JackPortIsInput},    {"capture_1", JackPortIsOutput}, {"other", JackPortIsOutput},
        {"playback_1", JackPortIsInput}, {"playback_2", JackPortIsInput}, {"monitor_1", JackPortIsOutput},
        {"monitor_2", JackPortIsOutput}, {"capture_2", JackPortIsOutput}};
    std::map<std::string, jack_port_t*> ports;
    for (const auto& [name, flags] : registered)
        ports[name] = jack_port_register(client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, flags, 0);
    ASSERT_EQ(jack_activate(client), 0);

    const auto listing = JackClients::list();
    ASSERT_TRUE(listing);
    const auto listed = std::find_if(listing->devices.begin(), listing->devices.end(),
                                     [&](const JackClients::Device& d) { return d.name == device; });
    ASSERT_NE(listed, listing->devices.end());
    EXPECT_EQ(std::pair(listed->captureChannels, listed->playbackChannels), std::pair(5, 3));

    JackStream stream;
    ASSERT_TRUE(stream.open({device, 5}, {device, 3}));
    TapCollector collector;
    collector.prepare(5, stream.periodFrames());
    const AudioTap tap = [](const AudioInputBlock&) {};
    const AudioRender render = [](float* const*, int, std::int64_t) {};
    ASSERT_TRUE(stream.start({&collector, &tap, &render}));
    // The stream's port ("…-in_<k>", "…-out_<k>") each of the device's ports is connected to.
    auto streamPort = [&](const std::string& port) {
        std::string peer;
        if (const char** peers = jack_port_get_all_connections(client, ports.at(port))) {
            peer = peers[0];
            jack_free(peers);
        }
        return peer.substr(peer.rfind('-') + 1);
    };
    const std::map<std::string, std::string> expected{
        {"capture_1", "in_1"}, {"capture_2", "in_2"},   {"monitor_1", "in_3"},   {"monitor_2", "in_4"},
        {"other", "in_5"},     {"playback_1", "out_1"}, {"playback_2", "out_2"}, {"input_1", "out_3"}};
    std::map<std::string, std::string> connected;
    pollUntil(
        [&] {
            for (const auto& [port, _] : expected) connected[port] = streamPort(port);
            return std::none_of(connected.begin(), connected.end(),
                                [](const auto& c) { return c.second.empty(); });
        },
        30s, 10ms);
    EXPECT_EQ(connected, expected);
    stream.close();
    jack_client_close(client);
}

// Until the dead server's last stream is closed, nothing opens a client beside it: the listing and a new
// stream wait for it, and past their bound fail with a clear error. Then the new server is found.
TEST(ServerRestartJack, NothingOpensWhileAStoppedServersStreamIsOpen) {
    QUORVEL_JACKD_ONLY(
        "the gap it guards is in jackd's libjack (a process-wide server flag); PipeWire "
        "is killed and restarted in ServerRestartJack.KilledPipeWireIsReportedAsStopped…");
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

// The devices of a server that stopped leave the list at the next listing once the process's client has
// seen it stop, rather than stand in for ten seconds as those of a server that does not answer.
TEST(ServerRestartJack, AStoppedServersDevicesLeaveAtTheNextListing) {
    QUORVEL_JACKD_ONLY("restarts jackd; PipeWire's: KilledPipeWireIsReportedAsStopped…");
    JackTestServer server(JackTestServer::privateName("stopped"));
    ASSERT_TRUE(server.start());
    LinuxAudioSystem system({"jack"});
    ASSERT_NE(deviceId(system, "system"), 0u);
    server.kill();
    const auto gone =
        timeOf([&] { EXPECT_TRUE(pollUntil([&] { return deviceId(system, "system") == 0; }, 30s)); });
    EXPECT_LT(gone, 3s);
    server.release();
}

// A server that stops answering while no stream is open: binding and the format come from the last listing
// without asking it, the start that meets it gives up at its deadline, and until the server answers again
// every listing and open fails at once rather than wait, while a listing keeps the devices last listed, so a
// chosen device stays chosen. The system names the server that is not responding. Then all works again.
TEST(ServerRestartJack, AFrozenServerFailsListingsAndOpensAtOnceAfterOneDeadline) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    JackFreezableServer server;
    ASSERT_TRUE(server.start());
    LinuxAudioSystem system({"jack"});
    const auto before = system.devices();
    ASSERT_TRUE(before);
    const std::uint32_t id = deviceId(system, server.device());
    ASSERT_NE(id, 0u);
    server.freeze(true);
    auto engine = system.makeEngine();
    Status started;
    const auto bound = timeOf([&] {
        EXPECT_EQ(engine->bindInput(id), 0) << "the last listing stands in";
        EXPECT_EQ(engine->inputFormat(), (DeviceFormat{2, 48000}));
    });
    const auto refused = timeOf([&] {
        engine->installTap([](const AudioInputBlock&) {});
        started = engine->start();
    });
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().description, "The JACK server is not responding");
    EXPECT_EQ(system.notResponding(), "The JACK server is not responding");
    std::optional<JackClients::Listing> listing;
    const auto listed = timeOf([&] { listing = JackClients::list(); });
    EXPECT_FALSE(listing);
    EXPECT_EQ(system.devices().value(), before.value()) << "the last listing stands in";
    JackStream stream;
    Status opened;
    const auto open = timeOf([&] { opened = stream.open({server.device(), 2}, {}); });
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().description, "The JACK server is not responding");
    // At once: far below a call's five seconds, however loaded the machine.
    EXPECT_LT(bound, 2s);
    EXPECT_LE(refused, 6s);
    EXPECT_LT(listed, 2s);
    EXPECT_LT(open, 2s);
    std::fprintf(
        stderr,
        "frozen server, no stream open: bind and format %lld ms, start %lld ms, then listing %lld ms, "
        "open %lld ms\n",
        static_cast<long long>(bound.count()), static_cast<long long>(refused.count()),
        static_cast<long long>(listed.count()), static_cast<long long>(open.count()));

    server.freeze(false);
    ASSERT_TRUE(pollUntil([] { return JackClients::list().has_value(); }, 30s));
    EXPECT_EQ(system.notResponding(), "");
    EXPECT_TRUE(engine->start());
    engine->stop();
    EXPECT_EQ(JackOpenLocked::clientsHeld(), 1) << "the client stays open while its server lives";
}

// libjack's status of a failed open is the error's code, with its bits named for the log. An open fails
// only while the process holds no client, so each case runs in a process of its own.
void expectRefusedWith(int status, const std::string& said) {
    JackOpenLocked::failNextOpens(1, status);
    JackStream stream;
    const Status refused = stream.open({}, {"qv-speaker", 2});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().description, "The JACK server is not running");
    EXPECT_EQ(refused.error().code, status);
    EXPECT_EQ(refused.error().debugDescription, said);
    EXPECT_TRUE(stream.open({}, {"qv-speaker", 2}));
}

TEST(JackClients, AFailedOpenCarriesLibjacksStatus) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    expectRefusedWith(
        JackFailure | JackServerFailed,
        "JACK 17: status 0x11: JackFailure (overall operation failed), JackServerFailed (unable to "
        "connect to the server)");
}

TEST(JackClients, AFailedOpenCarriesLibjacksOneStatusBit) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    expectRefusedWith(JackFailure, "JACK 1: status 0x1: JackFailure (overall operation failed)");
}

// Two owners opening and closing streams at once, as the analyser stopping while the player starts, many
// more times than the process holds streams at once: every open works, and nothing stays behind but the
// process's one client: no stream's place, no other client, no thread.
TEST(JackClients, StreamsOpenedAndClosedFromTwoThreadsLeaveNothingBehind) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    // PipeWire's libjack (0.3.65) takes a failed look-up of a port that came and went within milliseconds
    // for the end of its server and shuts its client down: under PipeWire the churn runs on a server of its
    // own, away from the fixture's interfaces.
    std::optional<PipeWireTestServer> own;
    if (JackServers::pipewire()) {
        own.emplace();
        ASSERT_TRUE(own->start());
    }
    const auto threads = [] {
        const std::filesystem::directory_iterator tasks("/proc/self/task");
        return std::distance(begin(tasks), end(tasks));
    };
    ASSERT_TRUE(JackClients::list());
    const auto before = threads();
    // Both close together, so that one's open meets the other's close of the client.
    std::barrier together(2);
    auto owner = [&together](std::string& failure) {
        for (int i = 0; i < 100; ++i) {
            JackStream stream;
            if (const Status opened = stream.open({}, {"qv-speaker", 2}); !opened && failure.empty())
                failure = std::to_string(i) + ": " + opened.error().description;
            together.arrive_and_wait();
        }
    };
    std::string first, second;
    std::thread other(owner, std::ref(second));
    owner(first);
    other.join();
    EXPECT_EQ(first, "");
    EXPECT_EQ(second, "");
    EXPECT_TRUE(JackClients::list());
    EXPECT_EQ(JackOpenLocked::clientsHeld(), 1);
    EXPECT_LE(threads(), before) << "threads left behind";
}

}  // namespace quorvel
