// The RtAudio layer against the fixture's JACK server (tests/fixtures/jack-start.sh) and own clients.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <sstream>
#include <thread>

#include "CountingAllocator.h"
#include "JackOpenLocked.h"
#include "JackTestServer.h"
#include "Waits.h"
#include "platform/JackClients.h"
#include "platform/LinuxAudioSystem.h"

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

std::int64_t firstNonZero(const std::vector<float>& samples) {
    const auto at = std::find_if(samples.begin(), samples.end(), [](float v) { return v != 0; });
    return at == samples.end() ? -1 : at - samples.begin();
}

}  // namespace

TEST(RtAudioJack, StoredIdStillSelectsTheInterfaceAfterAnotherClientComesAndGoes) {
    LinuxAudioSystem system({"jack"});
    for (const auto& [name, in, out] :
         {std::tuple{"system", 2, 2}, {"qv-sixteen", 16, 16}, {"qv-mic", 2, 0}, {"qv-speaker", 0, 2}}) {
        auto d = find(system, name);
        ASSERT_TRUE(d) << name;
        EXPECT_EQ(std::tuple(d->inputChannels, d->outputChannels, d->sampleRateHz, d->api),
                  std::tuple(in, out, 48000, "JACK"))
            << name;
    }
    EXPECT_EQ(system.defaultOutputDevice(), find(system, "system")->id);
    EXPECT_EQ(system.defaultInputDevice(), find(system, "system")->id);
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

// Each channel reaches its own port and returns with the device's delay, with no audio-thread allocation.
TEST(RtAudioJack, LoopbackKeepsEachChannelsDelayAndNeverAllocatesOnTheAudioThread) {
    LinuxAudioSystem system({"jack"});
    struct Case {
        const char* device;
        int channels;
        std::int64_t spacing;
    };
    for (const Case c : {Case{"qv-sixteen", 16, 48}, Case{"qv-sixtyfour", 64, 0}}) {
        SCOPED_TRACE(c.device);
        CountingAllocator::reset();
        auto recorder = record(system, find(system, c.device)->id, c.channels, 3 * 4096, c.channels, [] {
            // One impulse per channel at output frame 1024, of height (channel + 1) / 128.
            return [frame = std::int64_t{0}](float* const* ch, int channels, std::int64_t n) mutable {
                CountingAllocator::armThisThread(true);
                for (std::int64_t t = 0; t < n; ++t, ++frame)
                    for (int k = 0; frame == 1024 && k < channels; ++k)
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
    EXPECT_EQ(connected, (std::vector<std::string>{"1->system:playback_1", "2->system:playback_2"}));
}

// Only the engine on the device that left fails; one on another device goes on.
TEST(RtAudioJack, DeviceLeavingMidCaptureIsAFailure) {
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

// Capture, a routed play and a stereo play run at once on the process's one client, each on its own
// ports; stopping one leaves the others running.
TEST(RtAudioJack, EnginesRunTogetherOnTheProcesssOneClient) {
    LinuxAudioSystem system({"jack"});
    const int opensBefore = JackOpenLocked::opensWhileHeld();
    const std::uint32_t sixteen = find(system, "qv-sixteen")->id;
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
    EXPECT_TRUE(find(system, "qv-sixteen")) << "the listing shares the client";

    player->stop();
    const std::uint64_t periods = stereoPeriods;
    ASSERT_TRUE(waitUntil([&] { return stereoPeriods >= periods + 3; }));
    EXPECT_TRUE(stereo->isRunning());
    stereo->stop();
    EXPECT_EQ(JackOpenLocked::clientsHeld(), 0) << "the last stream closes the client";
    EXPECT_EQ(CountingAllocator::count(), 0) << "allocations on the audio thread";
}

TEST(RtAudioJack, StartsWhileAClientListedBeforeTheDeviceComesAndGoes) {
    // A client listed before the device comes and goes, so the device moves in the list.
    const std::string churnName = "qv-churn-" + std::to_string(getpid());
    auto openChurn = [&] {
        jack_status_t status{};
        jack_client_t* c = jack_client_open(churnName.c_str(), JackNoStartServer, &status);
        if (c) {
            for (const char* port : {"a", "b", "c"})
                jack_port_register(c, port, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
            jack_activate(c);
        }
        return c;
    };
    jack_client_t* churn = openChurn();
    ASSERT_TRUE(churn);
    JackTestServer visitors;
    const std::string device = "qv-late-" + std::to_string(getpid());
    ASSERT_TRUE(visitors.startInterface(QUORVEL_JACK_INTERFACE,
                                        {"--name", device, "--capture", "2", "--playback", "0"},
                                        device + ":capture_2"));
    LinuxAudioSystem system({"jack"});
    const std::uint32_t id = find(system, device)->id;
    std::atomic<bool> quit{false};
    std::thread churner([&] {
        while (!quit) {
            jack_client_close(churn);
            std::this_thread::sleep_for(3ms);
            churn = openChurn();
            std::this_thread::sleep_for(3ms);
        }
    });
    for (int i = 0; i < 20; ++i) {
        auto engine = system.makeEngine();
        ASSERT_EQ(engine->bindInput(id), 0);
        engine->installTap([](const AudioInputBlock&) {});
        Status started = engine->start();
        EXPECT_TRUE(started) << started.error().description;
    }
    quit = true;
    churner.join();
    if (churn) jack_client_close(churn);
}

}  // namespace quorvel
