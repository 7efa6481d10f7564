// The JACK path against the fixture's JACK server (jackd, or PipeWire's JACK side: JackServers.h) and own
// clients.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <mutex>
#include <sstream>
#include <string_view>
#include <thread>

#include "CountingAllocator.h"
#include "JackOpenLocked.h"
#include "JackServers.h"
#include "JackTestServer.h"
#include "PipeWireTestServer.h"
#include "Waits.h"
#include "platform/JackClients.h"
#include "platform/LinuxAudioSystem.h"
#include "platform/Log.h"

namespace quorvel {

namespace {

using namespace std::chrono_literals;

// Records the first frames of every input channel on the audio thread, into storage made beforehand.
struct Recorder {
    Recorder(int channels, std::int64_t frames)
        : data(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(frames))) {}
    AudioTap tap() {
        return [this](const AudioInputBlock& b) {
            CountingAllocator::armThisThread(true);
            if (nextTime >= 0 && b.sampleTime != nextTime) contiguous = false;
            nextTime = b.sampleTime + b.frameCount;
            const std::int64_t have = filled.load(std::memory_order_relaxed);
            const std::int64_t n =
                std::min<std::int64_t>(b.frameCount, static_cast<std::int64_t>(data[0].size()) - have);
            for (std::size_t c = 0;
                 b.channels && c < data.size() && c < static_cast<std::size_t>(b.channelCount); ++c)
                std::copy(b.channels[c], b.channels[c] + n, data[c].begin() + have);
            filled.store(have + n, std::memory_order_release);
        };
    }
    bool full() const {
        return filled.load(std::memory_order_acquire) == static_cast<std::int64_t>(data[0].size());
    }

    std::vector<std::vector<float>> data;
    std::atomic<std::int64_t> filled{0};
    std::int64_t nextTime = -1;  // audio thread only
    bool contiguous = true;      // read after stop()
};

// Generous: a loaded machine may take seconds where an idle one takes milliseconds.
template <typename Done>
bool waitUntil(Done done) {
    return pollUntil(done, 30s, 10ms);
}

std::optional<AudioDeviceInfo> find(LinuxAudioSystem& system, const std::string& name) {
    if (auto list = system.devices())
        for (const auto& d : *list)
            if (d.name == name) return d;
    return std::nullopt;
}

// Plays `render` (if given) on `id` and captures until full; overrun runs are retried for a minute.
std::unique_ptr<Recorder> record(LinuxAudioSystem& system, std::uint32_t id, int channels,
                                 std::int64_t frames, int outputs = 0,
                                 std::function<AudioRender()> render = nullptr) {
    auto engine = system.makeEngine();
    EXPECT_EQ(engine->bindOutput(id), 0);
    EXPECT_EQ(engine->bindInput(id), 0);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < giveUp) {
        auto recorder = std::make_unique<Recorder>(channels, frames);
        engine->installTap(recorder->tap());
        if (render) engine->setOutput(outputs, render());
        Status started = engine->start();
        EXPECT_TRUE(started) << started.error().description;
        if (!started || !waitUntil([&] { return recorder->full(); })) return nullptr;
        engine->stop();
        if (recorder->contiguous) return recorder;
    }
    ADD_FAILURE() << "every capture run had an overrun";
    return nullptr;
}

// A null node made on the PipeWire of PIPEWIRE_RUNTIME_DIR for the life of the object (pw-cli): a sink, or
// a source with input ports that carries what they receive. PipeWire's JACK side names it by its
// description.
class PipeWireNode {
public:
    PipeWireNode(const std::string& nodeName, const std::string& description, const std::string& mediaClass,
                 const std::string& positions)
        : name_(nodeName) {
        const std::string command =
            "pw-cli create-node adapter '{ factory.name=support.null-audio-sink "
            "node.name=" +
            nodeName + " node.description=" + description + " media.class=" + mediaClass +
            " audio.position=[ " + positions + " ] audio.rate=48000 object.linger=true }' >/dev/null 2>&1";
        made_ = std::system(command.c_str()) == 0;
    }
    ~PipeWireNode() {
        if (made_) std::system(("pw-cli destroy " + name_ + " >/dev/null 2>&1").c_str());
    }
    PipeWireNode(const PipeWireNode&) = delete;
    PipeWireNode& operator=(const PipeWireNode&) = delete;
    bool made() const { return made_; }

private:
    std::string name_;
    bool made_ = false;
};

// The audio log's lines about JACK's listings as a sound system ("JACK …"), from any thread.
std::mutex g_jackLogMutex;
std::vector<std::string> g_jackLog;
void noteJackLog(Log::Area area, Log::Level, std::string_view message) {
    if (area != Log::Area::audio || message.rfind("JACK ", 0) != 0) return;
    std::lock_guard lock(g_jackLogMutex);
    g_jackLog.emplace_back(message);
}

// A test interface named `name` with three capture ports, started again and again, each run a tenth of a
// second, in a process group of its own until the object goes.
class ComingAndGoing {
public:
    // `stay`: how long each client stays, as the shell's sleep takes it (it may use $RANDOM).
    explicit ComingAndGoing(const std::string& name, const std::string& stay = "0.1") {
        const std::string loop =
            "trap 'kill $p 2>/dev/null; wait $p; exit 0' TERM\n"
            "while :; do \"$0\" --name \"$1\" --capture 3 --playback 0 & p=$!; sleep " +
            stay + "; kill $p; wait $p; done";
        std::vector<std::string> args{"bash", "-c", loop, QUORVEL_JACK_INTERFACE, name};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        if (posix_spawnp(&pid_, "bash", &actions, &attributes, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    ~ComingAndGoing() {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGTERM);
        // An interface stuck in closing its client would keep the loop waiting: the group goes at last.
        if (!pollUntil([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, 20s)) {
            ::kill(-pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    ComingAndGoing(const ComingAndGoing&) = delete;
    ComingAndGoing& operator=(const ComingAndGoing&) = delete;
    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

std::int64_t firstNonZero(const std::vector<float>& samples) {
    const auto at = std::find_if(samples.begin(), samples.end(), [](float v) { return v != 0; });
    return at == samples.end() ? -1 : at - samples.begin();
}

}  // namespace

TEST(RtAudioJack, StoredIdStillSelectsTheInterfaceAfterAnotherClientComesAndGoes) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    LinuxAudioSystem system({"jack"});
    // jackd's own ports, or PipeWire's sinks (each with its monitor as inputs), and the test interfaces.
    using Expected = std::vector<std::tuple<std::string, int, int>>;
    const Expected expected =
        JackServers::pipewire()
            ? Expected{{"qv-stereo", 2, 2},   {"qv-six", 6, 6}, {"qv-sixteen", 16, 16},
                       {"qv-delays", 16, 16}, {"qv-mic", 2, 0}, {"qv-speaker", 0, 2}}
            : Expected{{"system", 2, 2}, {"qv-sixteen", 16, 16}, {"qv-mic", 2, 0}, {"qv-speaker", 0, 2}};
    for (const auto& [name, in, out] : expected) {
        auto d = find(system, name);
        ASSERT_TRUE(d) << name;
        EXPECT_EQ(std::tuple(d->inputChannels, d->outputChannels, d->sampleRateHz, d->api),
                  std::tuple(in, out, 48000, "JACK"))
            << name;
    }
    // The defaults: jackd's own ports; under PipeWire the first device with physical playback ports, a sink
    // (its monitor ports are not physical: the input is the first device with inputs).
    if (JackServers::pipewire()) {
        EXPECT_EQ(system.defaultOutputDevice(), find(system, "qv-stereo")->id);
        const auto devices = system.devices().value();
        const auto firstWithInputs = std::find_if(
            devices.begin(), devices.end(), [](const AudioDeviceInfo& d) { return d.inputChannels > 0; });
        ASSERT_NE(firstWithInputs, devices.end());
        EXPECT_EQ(system.defaultInputDevice(), firstWithInputs->id);
    } else {
        EXPECT_EQ(system.defaultOutputDevice(), find(system, "system")->id);
        EXPECT_EQ(system.defaultInputDevice(), find(system, "system")->id);
    }
    const std::uint32_t id = find(system, "qv-sixtyfour")->id;
    JackTestServer visitors;
    const std::string visitor = "qv-visitor-" + std::to_string(getpid());
    ASSERT_TRUE(visitors.startInterface(QUORVEL_JACK_INTERFACE,
                                        {"--name", visitor, "--capture", "3", "--playback", "3"},
                                        visitor + ":capture_3"));
    ASSERT_TRUE(find(system, visitor));
    auto engine = system.makeEngine();
    EXPECT_EQ(engine->bindInput(id), AudioStatus::ok);
    EXPECT_EQ(engine->inputFormat().channelCount, 64);
    visitors.stopLastInterface();
    ASSERT_TRUE(waitUntil([&] { return !find(system, visitor); }));
    EXPECT_EQ(find(system, "qv-sixtyfour")->id, id);
    EXPECT_EQ(engine->bindOutput(id), AudioStatus::ok);
    EXPECT_EQ(engine->outputFormat(), (DeviceFormat{64, 48000}));
    EXPECT_EQ(engine->bindOutput(id ^ 0x5a5a5a5a), AudioStatus::deviceNotFound);
}

// A JACK listing that cannot open a client (refused for a moment, as on a loaded machine) leaves the devices
// as they were listed, so that a stored choice still selects its device, and the log says so; a device
// missing from a listing that succeeded is gone. The process's client stays open from its first listing,
// so the refusals meet the listing only while no client is open: the first.
TEST(RtAudioJack, AFailedListingKeepsTheLastDevicesAndAGoneDeviceIsGone) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    Log::setSink(&noteJackLog);
    const std::shared_ptr<void> unset(nullptr, [](void*) { Log::setSink(nullptr); });
    LinuxAudioSystem system({"jack"});
    JackTestServer visitors;
    const std::string visitor = "qv-brief-" + std::to_string(getpid());
    ASSERT_TRUE(visitors.startInterface(QUORVEL_JACK_INTERFACE,
                                        {"--name", visitor, "--capture", "2", "--playback", "2"},
                                        visitor + ":capture_2"));
    const auto listed = system.devices();
    ASSERT_TRUE(listed);
    const std::uint32_t id = find(system, visitor)->id;
    const std::uint32_t defaultOutput = system.defaultOutputDevice();
    // The process's client is let go as a stalled one's would be, so that the next listing must open one.
    {
        JackStream stream;
        ASSERT_TRUE(stream.open({}, {visitor, 2}));
        stream.stalled();
    }
    ASSERT_TRUE(waitUntil([] { return JackClients::answering(); })) << "the stalled client is closed";
    JackOpenLocked::failNextOpens(3, JackFailure | JackServerFailed);
    EXPECT_EQ(system.devices().value(), listed.value());
    auto engine = system.makeEngine();
    EXPECT_EQ(engine->bindOutput(id), AudioStatus::ok);
    EXPECT_EQ(system.defaultOutputDevice(), defaultOutput);
    JackOpenLocked::failNextOpens(0, 0);
    ASSERT_TRUE(system.devices());
    {
        std::lock_guard lock(g_jackLogMutex);
        const std::vector<std::string> expected{
            "JACK did not list its devices; its last list stands in for a while",
            "JACK lists its devices again"};
        std::vector<std::string> seen;
        for (const auto& line : g_jackLog)
            if (std::find(expected.begin(), expected.end(), line) != expected.end()) seen.push_back(line);
        EXPECT_EQ(seen, expected);
    }

    visitors.stopLastInterface();
    ASSERT_TRUE(waitUntil([&] { return !find(system, visitor); }));
    EXPECT_EQ(engine->bindInput(id), AudioStatus::deviceNotFound);
}

// Each channel reaches its own port and returns with the device's delay, with no audio-thread allocation.
TEST(RtAudioJack, LoopbackKeepsEachChannelsDelayAndNeverAllocatesOnTheAudioThread) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    LinuxAudioSystem system({"jack"});
    struct Case {
        std::string device;
        int channels;
        std::int64_t spacing;
    };
    // PipeWire makes the links that jack_connect asks for active a little after it returns, not all in the
    // same period: an impulse in the first periods may cross some channels' links a period before the
    // others'. jackd too takes up new connections only at a cycle that follows a finished one, which on a
    // loaded machine may come periods later (seen: an impulse one period after the start never came back).
    // So the impulse is played once every link has long been made.
    const std::int64_t impulseAt = 4 * 4096;
    for (const Case& c : {Case{JackServers::delayedLoop(), 16, 48}, Case{"qv-sixtyfour", 64, 0}}) {
        SCOPED_TRACE(c.device);
        CountingAllocator::reset();
        auto recorder =
            record(system, find(system, c.device)->id, c.channels, impulseAt + 11 * 1024, c.channels, [=] {
                // One impulse per channel at output frame impulseAt, of height (channel + 1) / 128.
                return [frame = std::int64_t{0}, impulseAt](float* const* ch, int channels,
                                                            std::int64_t n) mutable {
                    CountingAllocator::armThisThread(true);
                    for (std::int64_t t = 0; t < n; ++t, ++frame)
                        for (int k = 0; frame == impulseAt && k < channels; ++k)
                            ch[k][t] = static_cast<float>(k + 1) / 128;
                };
            });
        ASSERT_TRUE(recorder);
        EXPECT_EQ(CountingAllocator::count(), 0) << "allocations on the audio threads";
        const std::int64_t base = firstNonZero(recorder->data[0]);
        ASSERT_GE(base, 0);
        for (int k = 0; k < c.channels; ++k) {
            const std::int64_t at = firstNonZero(recorder->data[k]);
            ASSERT_EQ(at - base, c.spacing * k) << "channel " << k;
            EXPECT_EQ(recorder->data[k][at], static_cast<float>(k + 1) / 128) << "channel " << k;
        }
    }
}

TEST(RtAudioJack, OneWayDevicesWorkOnlyTheirWay) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    LinuxAudioSystem system({"jack"});
    const std::uint32_t id = find(system, "qv-mic")->id;
    auto engine = system.makeEngine();
    // Bound output first, input second, as a capture engine does: neither refuses.
    ASSERT_EQ(engine->bindOutput(id), 0);
    ASSERT_EQ(engine->bindInput(id), 0);
    EXPECT_EQ(engine->inputFormat(), (DeviceFormat{2, 48000}));
    EXPECT_EQ(engine->outputFormat().channelCount, 0);
    auto recorder = record(system, id, 2, 2 * 4096);
    ASSERT_TRUE(recorder);
    double energy = 0;
    for (std::size_t t = 480; t < recorder->data[0].size(); ++t) {
        // qv-mic plays one noise on both captures, 480 frames later on the first.
        ASSERT_EQ(recorder->data[0][t], recorder->data[1][t - 480]) << t;
        energy += recorder->data[1][t] * recorder->data[1][t];
    }
    EXPECT_GT(energy, 0.0);

    // Playing to it is what fails, at start.
    engine->setOutput(2, [](float* const*, int, std::int64_t) {});
    const Status mute = engine->start();
    ASSERT_FALSE(mute);
    EXPECT_EQ(mute.error().description, "The device qv-mic has 0 outputs, 2 were asked for");
    EXPECT_FALSE(engine->isRunning());
    // An output-only device, likewise, has no input channels to capture.
    auto capture = system.makeEngine();
    ASSERT_EQ(capture->bindInput(find(system, "qv-speaker")->id), 0);
    EXPECT_EQ(capture->inputFormat().channelCount, 0);
    capture->installTap([](const AudioInputBlock&) {});
    const Status refused = capture->start();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().description, "The device qv-speaker has no inputs");
}

TEST(RtAudioJack, UnboundStereoPlaybackReachesTheDefaultOutputsOnly) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    LinuxAudioSystem system({"jack"});
    auto engine = system.makeEngine();
    engine->setOutput(2, [](float* const*, int, std::int64_t) {});
    ASSERT_TRUE(engine->start());
    // jack_lsp -c lists each port with its connections indented beneath it.
    std::string listing;
    if (FILE* pipe = popen((std::string("flock -w 30 ") + jackOpenLockPath + " jack_lsp -c").c_str(), "r")) {
        char line[512];
        while (fgets(line, sizeof line, pipe)) listing += line;
        pclose(pipe);
    }
    engine->stop();
    const std::string ownPort = "-out_";
    std::vector<std::string> connected;
    std::istringstream lines(listing);
    std::string line, port;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        if (line[0] != ' ')
            port = line;
        else if (port.find(JackClients::jackClientPrefix) == 0 && port.find(ownPort) != std::string::npos)
            connected.push_back(port.substr(port.rfind(ownPort) + ownPort.size()) + "->" +
                                line.substr(line.find_first_not_of(' ')));
    }
    using Ports = std::vector<std::string>;
    const Ports expected = JackServers::pipewire()
                               ? Ports{"1->qv-stereo:playback_FL", "2->qv-stereo:playback_FR"}
                               : Ports{"1->system:playback_1", "2->system:playback_2"};
    EXPECT_EQ(connected, expected);
}

// Only the engine on the device that left fails; one on another device goes on.
TEST(RtAudioJack, DeviceLeavingMidCaptureIsAFailure) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    LinuxAudioSystem system({"jack"});
    JackTestServer visitors;
    const std::string visitor = "qv-leaver-" + std::to_string(getpid());
    ASSERT_TRUE(visitors.startInterface(QUORVEL_JACK_INTERFACE,
                                        {"--name", visitor, "--capture", "2", "--playback", "2"},
                                        visitor + ":capture_2"));
    struct Run {
        std::unique_ptr<AudioEngine> engine;
        std::atomic<int> blocks{0};
        std::atomic<bool> failed{false};
        std::string failure;
    };
    Run leaving, staying;
    for (auto [run, device] : {std::pair{&leaving, visitor}, {&staying, std::string("qv-mic")}}) {
        run->engine = system.makeEngine();
        ASSERT_EQ(run->engine->bindInput(find(system, device)->id), 0);
        run->engine->installTap([run](const AudioInputBlock&) { ++run->blocks; });
        run->engine->setFailureHandler([run](const Error& e) {
            run->failure = e.description;
            run->failed = true;
        });
        ASSERT_TRUE(run->engine->start());
    }
    ASSERT_TRUE(waitUntil([&] { return leaving.blocks >= 2; }));
    visitors.stopLastInterface();
    ASSERT_TRUE(waitUntil([&] { return leaving.failed.load(); }));
    EXPECT_EQ(leaving.failure, "The audio device " + visitor + " disappeared");
    leaving.engine->stop();
    EXPECT_FALSE(leaving.engine->isRunning());
    // Its watcher looks every 50 ms; two more blocks take about 170 ms.
    const int before = staying.blocks;
    ASSERT_TRUE(waitUntil([&] { return staying.blocks >= before + 2; }));
    EXPECT_FALSE(staying.failed) << staying.failure;
    staying.engine->stop();
}

// PipeWire's libjack tells a client of a shutdown, with no reason, for any error its server reports, also
// for one after which the server goes on running the client. While the client is still called back, its run
// goes on and the client still serves listings and new runs.
TEST(RtAudioJack, AShutdownToldWhileTheServerStillRunsTheClientIsNoFailure) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    static std::atomic<bool> stillRuns{false};
    stillRuns = false;
    Log::setSink([](Log::Area, Log::Level, std::string_view message) {
        if (message.find("still runs") != std::string_view::npos) stillRuns = true;
    });
    LinuxAudioSystem system({"jack"});
    std::atomic<int> blocks{0};
    std::atomic<bool> failed{false};
    std::string failure;
    auto engine = system.makeEngine();
    ASSERT_EQ(engine->bindInput(find(system, "qv-mic")->id), 0);
    engine->installTap([&](const AudioInputBlock&) { ++blocks; });
    engine->setFailureHandler([&](const Error& e) {
        failure = e.description;
        failed = true;
    });
    ASSERT_TRUE(engine->start());
    ASSERT_TRUE(waitUntil([&] { return blocks >= 2; }));

    ASSERT_EQ(JackOpenLocked::tellShutdownWithoutReason(), 1);
    EXPECT_TRUE(waitUntil([&] { return stillRuns || failed; }));
    Log::setSink(nullptr);
    ASSERT_FALSE(failed) << failure;
    const int before = blocks;
    EXPECT_TRUE(waitUntil([&] { return blocks >= before + 2; }));
    EXPECT_TRUE(find(system, "qv-mic"));
    auto second = system.makeEngine();
    ASSERT_EQ(second->bindInput(find(system, "qv-mic")->id), 0);
    second->installTap([](const AudioInputBlock&) {});
    Status started = second->start();
    EXPECT_TRUE(started) << started.error().description;
    second->stop();
    engine->stop();
    EXPECT_FALSE(failed) << failure;
}

// Capture, a routed play and a stereo play run at once on the process's one client, each on its own
// ports; stopping one leaves the others running.
TEST(RtAudioJack, EnginesRunTogetherOnTheProcesssOneClient) {
    QUORVEL_SKIP_WITHOUT_JACK_SERVER();
    LinuxAudioSystem system({"jack"});
    const int opensBefore = JackOpenLocked::opensWhileHeld();
    const std::uint32_t sixteen = find(system, JackServers::delayedLoop())->id;
    CountingAllocator::reset();
    // Outputs 1 and 2 of qv-sixteen carry 0.25 and 0.5; they come back on its captures 1 and 2.
    auto player = system.makeEngine();
    ASSERT_EQ(player->bindOutput(sixteen), 0);
    player->setOutput(2, [](float* const* ch, int, std::int64_t n) {
        CountingAllocator::armThisThread(true);
        std::fill(ch[0], ch[0] + n, 0.25f);
        std::fill(ch[1], ch[1] + n, 0.5f);
    });
    std::atomic<std::uint64_t> stereoPeriods{0};
    auto stereo = system.makeEngine();
    stereo->setOutput(2, [&](float* const*, int, std::int64_t) { ++stereoPeriods; });
    ASSERT_TRUE(player->start());
    ASSERT_TRUE(stereo->start());
    auto recorder = record(system, sixteen, 2, 4 * 4096);
    ASSERT_TRUE(recorder);
    EXPECT_EQ(recorder->data[0].back(), 0.25f);
    EXPECT_EQ(recorder->data[1].back(), 0.5f);
    EXPECT_EQ(JackOpenLocked::clientsHeld(), 1);
    EXPECT_EQ(JackOpenLocked::opensWhileHeld(), opensBefore) << "a client opened beside the running one";
    EXPECT_TRUE(find(system, JackServers::delayedLoop())) << "the listing shares the client";

    player->stop();
    const std::uint64_t periods = stereoPeriods;
    ASSERT_TRUE(waitUntil([&] { return stereoPeriods >= periods + 3; }));
    EXPECT_TRUE(stereo->isRunning());
    stereo->stop();
    EXPECT_EQ(JackOpenLocked::clientsHeld(), 1) << "the client stays open while its server lives";
    EXPECT_EQ(CountingAllocator::count(), 0) << "allocations on the audio thread";
}

// A client listed before the device comes and goes, so the device moves in the list: a test interface
// started and stopped up to ten times a second, in processes of its own. libjack (jackd2) cancels a closing
// client's notification thread wherever it is, also inside the lock of the process-wide table that the
// thread updates for every client that comes or goes on the server; a close at that moment leaves the lock
// held, and every later open and close of the process waits forever (seen with a client of this process
// opened and closed every 6 ms beside ours). A user's server sees clients come and go far more rarely.
TEST(RtAudioJack, StartsWhileAClientListedBeforeTheDeviceComesAndGoes) {
    QUORVEL_JACKD_ONLY(
        "PipeWire's libjack fails some opens (JackInitFailure) while another client comes and goes every "
        "tenth of a second");
    const std::string churnName = "qv-churn-" + std::to_string(getpid());
    ComingAndGoing churn(churnName);
    ASSERT_TRUE(churn.started());
    ASSERT_TRUE(pollUntil([&] { return JackTestServer::listed(churnName + ":capture_3"); }, 60s, 20ms));
    JackTestServer visitors;
    const std::string device = "qv-late-" + std::to_string(getpid());
    ASSERT_TRUE(visitors.startInterface(QUORVEL_JACK_INTERFACE,
                                        {"--name", device, "--capture", "2", "--playback", "0"},
                                        device + ":capture_2"));
    LinuxAudioSystem system({"jack"});
    const std::uint32_t id = find(system, device)->id;
    EXPECT_EQ(JackOpenLocked::clientsHeld(), 1) << "the listing's client stays open";
    for (int i = 0; i < 20; ++i) {
        auto engine = system.makeEngine();
        ASSERT_EQ(engine->bindInput(id), 0);
        engine->installTap([](const AudioInputBlock&) {});
        Status started = engine->start();
        EXPECT_TRUE(started) << started.error().description;
    }
}

// The process's client stays open while its server lives, so listings and starts with nothing else of ours
// open never open or close a client while other processes' clients come and go (a close of ours that met
// another client's arrival could wait for ever on a lock of libjack's, and JACK would then stay "not
// responding" for us while it serves everyone else).
TEST(RtAudioJack, ListingsAndStartsBesideClientsComingAndGoingKeepJackAnswering) {
    QUORVEL_JACKD_ONLY(
        "PipeWire's libjack fails some of its own calls while other clients come and go every few "
        "milliseconds");
    std::vector<std::unique_ptr<ComingAndGoing>> churn;
    for (int i = 0; i < 3; ++i) {
        churn.push_back(std::make_unique<ComingAndGoing>(
            "qv-churn-" + std::to_string(getpid()) + "-" + std::to_string(i), "0.0$((RANDOM % 46 + 5))"));
        ASSERT_TRUE(churn.back()->started());
    }
    LinuxAudioSystem system({"jack"});
    const std::uint32_t mic = find(system, "qv-mic")->id;
    int unlisted = 0, notAnswering = 0, refused = 0;
    for (int i = 0; i < 3000; ++i) {
        if (!JackClients::list()) ++unlisted;
        if (!JackClients::answering()) ++notAnswering;
    }
    std::string why;
    for (int i = 0; i < 500; ++i) {
        auto engine = system.makeEngine();
        ASSERT_EQ(engine->bindInput(mic), 0);
        engine->installTap([](const AudioInputBlock&) {});
        if (const Status started = engine->start(); !started) {
            ++refused;
            why = started.error().description;
        }
        engine->stop();
        if (!JackClients::answering()) ++notAnswering;
    }
    EXPECT_EQ(unlisted, 0);
    EXPECT_EQ(refused, 0) << why;
    EXPECT_EQ(notAnswering, 0);
    EXPECT_EQ(JackOpenLocked::clientsHeld(), 1);
}

// Under PipeWire a sink and a source of one name are one JACK device, whichever came first: its outputs
// are the sink's playback ports (then the source's inputs), its inputs the source's capture ports, then
// the sink's monitor. Each output carries its own value, which must come back on its channel alone.
TEST(RtAudioJack, ASinkAndASourceOfOneNameAreNumberedByTheirPorts) {
    QUORVEL_PIPEWIRE_ONLY("jackd has no nodes of one name; port names order channels in JackPorts.*");
    // A PipeWire of its own: the session manager of the fixture's would take the new sinks as its default.
    PipeWireTestServer server;
    ASSERT_TRUE(server.start());
    LinuxAudioSystem system({"jack"});
    for (const bool sourceFirst : {true, false}) {
        const std::string name = sourceFirst ? "qv-pair-a" : "qv-pair-b";
        SCOPED_TRACE(name);
        std::optional<PipeWireNode> first, second;
        first.emplace(name + (sourceFirst ? "-source" : "-sink"), name,
                      sourceFirst ? "Audio/Source/Virtual" : "Audio/Sink",
                      sourceFirst ? "FL FR" : "FL FR FC LFE");
        second.emplace(name + (sourceFirst ? "-sink" : "-source"), name,
                       sourceFirst ? "Audio/Sink" : "Audio/Source/Virtual",
                       sourceFirst ? "FL FR FC LFE" : "FL FR");
        ASSERT_TRUE(first->made() && second->made()) << "pw-cli create-node failed";
        ASSERT_TRUE(waitUntil([&] {
            const auto d = find(system, name);
            return d && d->inputChannels == 6 && d->outputChannels == 6;
        }));
        auto recorder = record(system, find(system, name)->id, 6, 4 * 4096, 6, [] {
            return [](float* const* ch, int channels, std::int64_t n) {
                for (int k = 0; k < channels; ++k)
                    std::fill(ch[k], ch[k] + n, static_cast<float>(k + 1) / 64);
            };
        });
        ASSERT_TRUE(recorder);
        // Outputs 1–4 are the sink's FL FR FC LFE, 5–6 the source's inputs; inputs 1–2 the source's
        // captures (its inputs), 3–6 the sink's monitor.
        std::vector<float> heard;
        for (const auto& channel : recorder->data) heard.push_back(channel.back());
        EXPECT_EQ(heard, (std::vector<float>{5.f / 64, 6.f / 64, 1.f / 64, 2.f / 64, 3.f / 64, 4.f / 64}));
    }
}

}  // namespace quorvel
