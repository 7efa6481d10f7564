// The PulseAudio device list on the private servers: pinned on the fixture's sinks, and held against
// RtAudio 5.2's own PulseAudio listing (the one that stored device ids were made from) as sinks and
// defaults change.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <rtaudio/RtAudio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <tuple>

#include "LoopbackRecorder.h"
#include "PulseServers.h"
#include "Waits.h"
#include "platform/DeviceIds.h"
#include "platform/LinuxAudioSystem.h"
#include "platform/PulseDevices.h"

namespace quorvel {

namespace {

using namespace std::chrono_literals;
using PulseServers::pactl;

// name, inputs, outputs, rate; then the positions of the default input and output.
using Row = std::tuple<std::string, int, int, double>;
struct Seen {
    std::vector<Row> rows;
    std::size_t defaultInput = 0;
    std::size_t defaultOutput = 0;
    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
    for (const auto& [name, in, outs, rate] : seen.rows)
        out << name << " " << in << "/" << outs << " " << rate << "; ";
    return out << "defaults " << seen.defaultInput << ", " << seen.defaultOutput;
}

Seen ours() {
    Seen seen;
    if (auto listing = PulseDevices::list()) {
        for (const auto& d : listing->devices)
            seen.rows.emplace_back(d.name, d.inputChannels, d.outputChannels, d.sampleRateHz);
        seen.defaultInput = listing->defaultInput;
        seen.defaultOutput = listing->defaultOutput;
    }
    return seen;
}

Seen rtAudios() {
    Seen seen;
    RtAudio rt(RtAudio::LINUX_PULSE);
    rt.showWarnings(false);
    const unsigned int count = rt.getDeviceCount();
    for (unsigned int i = 0; i < count; ++i) {
        const RtAudio::DeviceInfo info = rt.getDeviceInfo(i);
        seen.rows.emplace_back(info.name, info.inputChannels, info.outputChannels, info.preferredSampleRate);
    }
    if (count > 0) {
        seen.defaultInput = rt.getDefaultInputDevice();
        seen.defaultOutput = rt.getDefaultOutputDevice();
    }
    return seen;
}

// RtAudio kept one of two sinks (or monitors) of one description: the rows of the twins, which it lost.
Seen withoutTwins(Seen seen) {
    std::erase_if(seen.rows,
                  [](const Row& r) { return std::get<0>(r).find("qv-twin") != std::string::npos; });
    return seen;
}

// A server that takes the connection and never answers, as a frozen one does; PULSE_SERVER points at it
// while it lives.
class SilentServer {
public:
    SilentServer() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
            ::listen(listener_, 16) != 0)
            ADD_FAILURE() << "no port for the silent server";
        const char* server = std::getenv("PULSE_SERVER");
        saved_ = server ? server : "";
        setenv("PULSE_SERVER", ("tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port))).c_str(), 1);
    }
    ~SilentServer() {
        setenv("PULSE_SERVER", saved_.c_str(), 1);
        ::close(listener_);
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

private:
    int listener_;
    std::string saved_;
};

class PulseListing : public ::testing::Test {
protected:
    void SetUp() override { QUORVEL_SKIP_WITHOUT_PULSE_SERVER(); }
    void TearDown() override {
        if (!module_.empty()) pactl("unload-module " + module_);
        pactl("set-default-sink qv_stereo");
    }
    std::string module_;
};

}  // namespace

TEST_F(PulseListing, IsTheFixturesSinksInRtAudio52sOrderWithItsIdsAndDefaults) {
    // PulseAudio lists each monitor as a device, the default sink's first; PipeWire a sink and its monitor
    // as one device. Of the two sinks described "qv-twin", qv_twin_a keeps the name and qv_twin_b, which the
    // server lists first, is "qv-twin (2)"; their monitors likewise.
    const std::vector<Row> expected =
        PulseServers::pipewire()
            ? std::vector<Row>{{"qv-stereo", 2, 2, 48000},  {"qv-six", 6, 6, 48000},
                               {"qv-eight", 8, 8, 48000},   {"qv-sixteen", 16, 16, 48000},
                               {"qv-mono", 1, 1, 48000},    {"qv-twin", 2, 2, 48000},
                               {"qv-twin (2)", 6, 6, 48000}}
            : std::vector<Row>{{"Monitor of qv-stereo", 2, 0, 48000},
                               {"qv-stereo", 0, 2, 48000},
                               {"qv-six", 0, 6, 48000},
                               {"qv-eight", 0, 8, 48000},
                               {"qv-sixteen", 0, 16, 48000},
                               {"qv-mono", 0, 1, 48000},
                               {"qv-twin", 0, 2, 48000},
                               {"qv-twin (2)", 0, 6, 48000},
                               {"Monitor of qv-six", 6, 0, 48000},
                               {"Monitor of qv-eight", 8, 0, 48000},
                               {"Monitor of qv-sixteen", 16, 0, 48000},
                               {"Monitor of qv-mono", 1, 0, 48000},
                               {"Monitor of qv-twin", 2, 0, 48000},
                               {"Monitor of qv-twin (2)", 6, 0, 48000}};
    LinuxAudioSystem system({"pulse"});
    auto list = system.devices();
    ASSERT_TRUE(list);
    std::vector<Row> rows;
    for (const auto& d : *list) {
        rows.emplace_back(d.name, d.inputChannels, d.outputChannels, d.sampleRateHz);
        EXPECT_EQ(d.api, "PulseAudio");
        EXPECT_EQ(d.id, DeviceIds::make("PulseAudio", d.name));
    }
    EXPECT_EQ(rows, expected);
    // The ids that earlier versions stored for these names (the first twin's is the name's plain id).
    for (const auto& [name, id] :
         {std::pair{"qv-stereo", 0x1914d10eu}, {"qv-mono", 0x04097b21u}, {"qv-twin", 0x226ccb58u}})
        EXPECT_EQ(deviceId(system, name), id) << name;
    EXPECT_EQ(system.defaultInputDevice(),
              DeviceIds::make("PulseAudio", PulseServers::monitorOf("qv-stereo")));
    EXPECT_EQ(system.defaultOutputDevice(), DeviceIds::make("PulseAudio", "qv-stereo"));
    EXPECT_EQ(withoutTwins(ours()), withoutTwins(rtAudios()));
}

TEST_F(PulseListing, FollowsRtAudio52AsTheDefaultMoves) {
    for (const char* defaultSink : {"qv_six", "qv_eight", "qv_stereo"}) {
        SCOPED_TRACE(defaultSink);
        pactl(std::string("set-default-sink ") + defaultSink);
        // Both read the same state once the server has settled on it.
        EXPECT_TRUE(pollUntil([&] { return withoutTwins(ours()) == withoutTwins(rtAudios()); }, 10s))
            << ours() << "\n"
            << rtAudios();
    }
}

// Each of two sinks of one description is listed with its own channels, and the id stored for each selects
// it again in a listing made afresh, also once another sink of that description has come and one of them
// is the default (which goes first in the server's list).
TEST_F(PulseListing, AStoredChoiceOfATwinSelectsTheSameTwinAgain) {
    std::uint32_t twin = 0, twin2 = 0;
    {
        LinuxAudioSystem system({"pulse"});
        twin = deviceId(system, "qv-twin");
        twin2 = deviceId(system, "qv-twin (2)");
    }
    ASSERT_NE(twin, 0u);
    ASSERT_NE(twin2, 0u);
    auto outputsOf = [](LinuxAudioSystem& system, std::uint32_t id) {
        auto engine = system.makeEngine();
        EXPECT_EQ(engine->bindOutput(id), 0);
        return engine->outputFormat().channelCount;
    };
    module_ = pactl(
        "load-module module-null-sink sink_name=qv_twin_c rate=48000 channels=4 "
        "sink_properties=device.description=qv-twin");
    pactl("set-default-sink qv_twin_b");
    ASSERT_TRUE(pollUntil(
        [&] {
            LinuxAudioSystem system({"pulse"});
            return deviceId(system, "qv-twin (3)") != 0 && system.defaultOutputDevice() == twin2;
        },
        10s));
    LinuxAudioSystem system({"pulse"});
    EXPECT_EQ(outputsOf(system, twin), 2);
    EXPECT_EQ(outputsOf(system, twin2), 6);
    EXPECT_EQ(outputsOf(system, deviceId(system, "qv-twin (3)")), 4);
    // A stream opens on the sink the id names: six channels fit qv_twin_b only.
    auto engine = system.makeEngine();
    ASSERT_EQ(engine->bindOutput(twin2), 0);
    engine->setOutput(6, [](float* const*, int, std::int64_t) {});
    const Status started = engine->start();
    EXPECT_TRUE(started) << started.error().description;
}

// A choice stays with its device as twins come and go: a device that was alone keeps its name and id when a
// twin of its description appears, even one whose name sorts first (the newcomer is "(2)"); after a restart,
// which lists both at once by their names on the server, the choice's key finds it under whatever name it
// then has, with its own channels and monitor; and when its twin goes, it is still the one found.
TEST_F(PulseListing, AChoiceStaysWithItsDeviceAsTwinsComeAndGo) {
    std::vector<std::string> modules;
    const std::shared_ptr<void> unload(nullptr, [&](void*) {
        for (const auto& m : modules) pactl("unload-module " + m);
    });
    auto load = [&](const std::string& sink, int channels) {
        modules.push_back(pactl("load-module module-null-sink sink_name=" + sink + " rate=48000 channels=" +
                                std::to_string(channels) + " sink_properties=device.description=qv-solo"));
        return modules.back();
    };
    auto channelsOf = [](AudioSystem& system, std::uint32_t id) {
        const auto listed = system.devices();
        for (const auto& d : listed.value())
            if (d.id == id) return std::pair(d.inputChannels, d.outputChannels);
        return std::pair(-1, -1);
    };
    LinuxAudioSystem system({"pulse"});
    load("qv_solo_z", 4);
    ASSERT_TRUE(pollUntil([&] { return deviceId(system, "qv-solo") != 0; }, 10s));
    const std::uint32_t chosen = deviceId(system, "qv-solo");
    const std::string key = "PulseAudio:qv_solo_z";
    const std::string newcomer = load("qv_solo_a", 2);
    ASSERT_TRUE(pollUntil([&] { return deviceId(system, "qv-solo (2)") != 0; }, 10s));
    EXPECT_EQ(deviceId(system, "qv-solo"), chosen) << "the device that was alone keeps its name";
    EXPECT_EQ(system.chosenDevice(chosen, key), chosen);
    EXPECT_EQ(channelsOf(system, chosen).second, 4);
    EXPECT_EQ(channelsOf(system, deviceId(system, "qv-solo (2)")).second, 2);

    LinuxAudioSystem restarted({"pulse"});
    const std::uint32_t found = restarted.chosenDevice(chosen, key);
    EXPECT_NE(found, chosen) << "listed afresh, qv_solo_a takes the plain name";
    EXPECT_EQ(channelsOf(restarted, found).second, 4);
    // Its monitor: under PulseAudio a device of its own, under PipeWire the device's own inputs.
    const std::uint32_t monitor =
        PulseServers::pipewire() ? found : restarted.chosenDevice(0, "PulseAudio:qv_solo_z.monitor");
    EXPECT_EQ(channelsOf(restarted, monitor).first, 4);

    pactl("unload-module " + newcomer);
    std::erase(modules, newcomer);
    ASSERT_TRUE(pollUntil([&] { return deviceId(system, "qv-solo (2)") == 0; }, 10s));
    EXPECT_EQ(system.chosenDevice(chosen, key), chosen);
    // Listed again (as a change notice has it listed), the one that was "(2)" has the plain name now.
    ASSERT_TRUE(restarted.devices());
    const std::uint32_t now = restarted.chosenDevice(found, key);
    EXPECT_EQ(now, chosen);
    EXPECT_EQ(channelsOf(restarted, now).second, 4);
}

// The system tells of a device that comes, and a listing that the server does not answer leaves the last
// list as it was, so that a stored choice still selects its device.
TEST_F(PulseListing, TellsOfADeviceThatComesAndKeepsItsListWhileTheServerDoesNotAnswer) {
    LinuxAudioSystem system({"pulse"});
    std::atomic<int> notices{0};
    system.setDevicesChanged([&] { ++notices; });
    ASSERT_TRUE(pollUntil(
        [] { return pactl("list clients").find("Quorvel device watch") != std::string::npos; }, 20s));
    module_ = pactl(
        "load-module module-null-sink sink_name=qv_visitor rate=48000 channels=2 "
        "sink_properties=device.description=qv-visitor");
    EXPECT_TRUE(pollUntil([&] { return notices > 0; }, 20s)) << "no notice of the sink that came";
    ASSERT_NE(deviceId(system, "qv-visitor"), 0u);
    const auto listed = system.devices();
    ASSERT_TRUE(listed);
    system.setDevicesChanged(nullptr);

    SilentServer silent;
    const auto kept = system.devices();
    ASSERT_TRUE(kept);
    EXPECT_EQ(*kept, *listed);
}

}  // namespace quorvel
