#pragma once
// One run of an engine's PulseAudio directions (PulseAudio, or PipeWire's PulseAudio side): a connection of
// its own to the server, served by a libpulse threaded main loop, with a playback stream on the output's
// sink and a record stream on the input's source (RtAudio's PulseAudio backend is not used).
//
// Channels. Each stream carries all of its device's channels, with the device's own channel map, and asks
// the server neither to remix nor to remap them: buffer channel k is the device's channel k + 1 whatever
// the map calls it (stereo, 5.1, 7.1, aux0…aux31). Output channels beyond those rendered play silence.
//
// Failures. A stream never moves to another device: when its device goes away the server ends it, and
// failure() names the device. A lost connection reads "The PulseAudio server stopped". An open fails at once
// while the server is not responding (PulseDevices::answering()), and a wait of its own that passes its
// five-second deadline makes the server not responding (PulseDevices::missed()). libpulse's texts go to the
// log only (AudioErrors.h).
//
// Threads: open() and close() on the owner thread; failure() on the owner's watcher thread, which the owner
// joins before it closes. The main loop's thread runs the stream callbacks, which neither allocate nor lock
// (the loop holds its own lock around them) and only touch storage made in open() and atomics.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioDevices.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace quorvel {

class TapCollector;

class PulseStream {
public:
    struct Direction {
        std::string device;  // the listed name, for texts; empty: this direction is not used
        std::string node;    // PulseAudio's name of the sink or source
        int channels = 0;    // output: channels rendered; input: the device's channels (all are captured)
        double sampleRateHz = 0;
    };
    // What the callbacks drive; fixed for the run and owned by the engine.
    struct Hooks {
        TapCollector* collector = nullptr;  // with the input, prepared for periodFrames
        const AudioTap* tap = nullptr;
        const AudioRender* render = nullptr;  // with the output
    };

    // Frames asked of the server per period, and the longest render or collector push.
    static constexpr std::int64_t periodFrames = 1024;

    PulseStream() = default;
    ~PulseStream() { close(); }
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    // Connects, opens both directions and starts them: the render and tap may run before it returns. On
    // failure nothing stays open.
    Status open(const Direction& input, const Direction& output, Hooks hooks);
    // Ends the streams and the connection; harmless when closed. Returns only when no callback runs any more.
    void close();
    bool isOpen() const { return loop_ != nullptr; }

    // Why the run has ended; empty while it runs. May ask the server whether the device is still there.
    std::string failure();
    // Any thread. Callbacks so far, and underflows of the playback and gaps in the capture (holes, and input
    // the server's read index shows it dropped).
    std::uint64_t periods() const { return periods_.load(std::memory_order_relaxed); }
    std::uint64_t xruns() const { return xruns_.load(std::memory_order_relaxed); }

private:
    struct Side {
        Direction direction;
        bool output = false;
        pa_stream* stream = nullptr;
        int streamChannels = 0;     // the device's channels, all carried
        std::vector<float> planar;  // direction.channels (output) or streamChannels (input) × periodFrames
        std::vector<float*> pointers;
        // Set by the main loop's thread when the server has ended the stream (release).
        std::atomic<bool> ended{false};
        // Input only, main loop's thread: bytes read (holes too), and how far the server's read index was
        // ahead of them at the last timing update.
        std::int64_t readBytes = 0;
        std::optional<std::int64_t> aheadBefore;
    };
    friend struct PulseCallbacks;  // libpulse's callbacks, with libpulse's types

    Status openSide(Side& side);
    bool deviceThere(const Side& side);
    void write(std::size_t bytes);
    void read();
    void timingUpdated();
    void lostInput();

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    Side input_;
    Side output_;
    Hooks hooks_;
    bool gapPending_ = false;  // main loop's thread: the next captured period follows lost input

    // Set by the main loop's thread when the connection is lost (release).
    std::atomic<bool> serverGone_{false};
    std::atomic<std::uint64_t> periods_{0};
    std::atomic<std::uint64_t> xruns_{0};
};

}  // namespace quorvel
