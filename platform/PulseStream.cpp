#include "platform/PulseStream.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <utility>

#include "platform/AudioErrors.h"
#include "platform/PulseDevices.h"
#include "platform/TapCollector.h"

namespace quorvel {

namespace {

// How long open() and failure() wait for an answer; a stopped server refuses at once.
constexpr pa_usec_t answerWaitUsec = 5 * PA_USEC_PER_SEC;
// Playback buffer, in periods (about 170 ms at 48 kHz): room for a loaded machine's scheduling hiccups (a
// client starved to a fifth of one core still played gaplessly), short enough for sound to follow the
// controls. Stopping drops what is buffered.
constexpr std::int64_t playbackPeriods = 8;

constexpr const char* serverStopped = "The PulseAudio server stopped";
constexpr const char* serverNotResponding = "The PulseAudio server is not responding";

Error streamError(std::string text) { return AudioErrors::make(std::move(text)); }

// With the loop's lock held: waits until done() or the answer wait has passed; returns done().
template <typename Done>
bool waitUntil(pa_threaded_mainloop* loop, pa_context* context, Done done) {
    std::pair<bool, pa_threaded_mainloop*> fired{false, loop};
    auto timeout = [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        auto* flag = static_cast<std::pair<bool, pa_threaded_mainloop*>*>(self);
        flag->first = true;
        pa_threaded_mainloop_signal(flag->second, 0);
    };
    pa_time_event* timer = pa_context_rttime_new(context, pa_rtclock_now() + answerWaitUsec, timeout, &fired);
    while (!done() && !fired.first) pa_threaded_mainloop_wait(loop);
    if (timer) pa_threaded_mainloop_get_api(loop)->time_free(timer);
    return done();
}

// A sink or source as the server reports it now.
struct DeviceLookup {
    pa_threaded_mainloop* loop = nullptr;
    bool done = false;
    bool found = false;
    bool timedOut = false;  // the server gave no answer in time
    pa_sample_spec spec{};
    pa_channel_map map{};

    template <typename Info>
    static void answer(pa_context*, const Info* i, int eol, void* self) {
        auto* lookup = static_cast<DeviceLookup*>(self);
        if (eol == 0 && i) {
            lookup->found = true;
            lookup->spec = i->sample_spec;
            lookup->map = i->channel_map;
        } else {
            lookup->done = true;
        }
        pa_threaded_mainloop_signal(lookup->loop, 0);
    }
};

// With the loop's lock held: the sink (or source) called `node`, unless the connection is lost meanwhile.
DeviceLookup lookUp(pa_threaded_mainloop* loop, pa_context* context, const std::string& node, bool sink,
                    const std::atomic<bool>& connectionLost) {
    DeviceLookup lookup;
    lookup.loop = loop;
    if (pa_context_get_state(context) != PA_CONTEXT_READY) return lookup;
    pa_operation* op = sink ? pa_context_get_sink_info_by_name(context, node.c_str(),
                                                               &DeviceLookup::answer<pa_sink_info>, &lookup)
                            : pa_context_get_source_info_by_name(
                                  context, node.c_str(), &DeviceLookup::answer<pa_source_info>, &lookup);
    if (!op) return lookup;
    // A lookup given up on must not answer into this frame later.
    if (!waitUntil(loop, context, [&] { return lookup.done || connectionLost.load(); })) {
        pa_operation_cancel(op);
        lookup.timedOut = true;
    }
    pa_operation_unref(op);
    return lookup;
}

}  // namespace

// libpulse's callbacks, on the main loop's thread with the loop's lock held.
struct PulseCallbacks {
    static void contextState(pa_context* context, void* self) {
        auto* s = static_cast<PulseStream*>(self);
        const pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
            s->serverGone_.store(true, std::memory_order_release);
        pa_threaded_mainloop_signal(s->loop_, 0);
    }
    static void streamState(pa_stream* stream, void* self) {
        auto* s = static_cast<PulseStream*>(self);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        // libpulse reports a lost connection on the context before it ends the streams, so a reader who sees
        // `ended` also sees serverGone_ when that was the cause.
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
            (stream == s->output_.stream ? s->output_ : s->input_)
                .ended.store(true, std::memory_order_release);
        pa_threaded_mainloop_signal(s->loop_, 0);
    }
    static void write(pa_stream*, std::size_t bytes, void* self) {
        static_cast<PulseStream*>(self)->write(bytes);
    }
    static void read(pa_stream*, std::size_t, void* self) { static_cast<PulseStream*>(self)->read(); }
    static void timing(pa_stream*, void* self) { static_cast<PulseStream*>(self)->timingUpdated(); }
    static void underflow(pa_stream*, void* self) {
        static_cast<PulseStream*>(self)->xruns_.fetch_add(1, std::memory_order_relaxed);
    }
};

Status PulseStream::open(const Direction& input, const Direction& output, Hooks hooks) {
    close();
    input_.direction = input;
    input_.output = false;
    output_.direction = output;
    output_.output = true;
    hooks_ = hooks;
    gapPending_ = false;
    periods_.store(0, std::memory_order_relaxed);
    xruns_.store(0, std::memory_order_relaxed);

    if (!PulseDevices::answering()) return streamError(serverNotResponding);
    loop_ = pa_threaded_mainloop_new();
    if (loop_) context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Quorvel");
    if (!context_) {
        close();
        return streamError("Cannot start PulseAudio's client library");
    }
    pa_context_set_state_callback(context_, &PulseCallbacks::contextState, this);
    pa_threaded_mainloop_lock(loop_);
    auto fail = [&](std::string text) -> Status {
        // libpulse's reason, when one of its calls is what failed.
        const int code = context_ ? pa_context_errno(context_) : PA_OK;
        pa_threaded_mainloop_unlock(loop_);
        close();
        if (code == PA_OK) return streamError(std::move(text));
        return AudioErrors::make(std::move(text), {"PulseAudio", code, pa_strerror(code)});
    };
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop_) < 0)
        return fail("The PulseAudio server is not running");
    if (!waitUntil(loop_, context_, [this] {
            return pa_context_get_state(context_) == PA_CONTEXT_READY || serverGone_.load();
        })) {
        PulseDevices::missed("connecting a stream");
        return fail(serverNotResponding);
    }
    if (pa_context_get_state(context_) != PA_CONTEXT_READY)
        return fail("The PulseAudio server is not running");
    for (Side* side : {&input_, &output_}) {
        if (side->direction.device.empty()) continue;
        if (Status s = openSide(*side); !s) return fail(s.error().description);
    }
    pa_threaded_mainloop_unlock(loop_);
    return Status::success();
}

// With the loop's lock held.
Status PulseStream::openSide(Side& side) {
    const Direction& d = side.direction;
    DeviceLookup lookup = lookUp(loop_, context_, d.node, side.output, serverGone_);
    if (serverGone_.load()) return streamError(serverStopped);
    if (lookup.timedOut) {
        PulseDevices::missed("looking up a device");
        return streamError(serverNotResponding);
    }
    if (!lookup.found) return streamError("The audio device " + d.device + " is no longer available");
    const int deviceChannels = lookup.spec.channels;
    if (side.output ? deviceChannels < d.channels : deviceChannels != d.channels)
        return streamError("The audio device " + d.device + " no longer has " + std::to_string(d.channels) +
                           (side.output ? " outputs" : " inputs"));

    side.streamChannels = deviceChannels;
    const int planarChannels = side.output ? d.channels : deviceChannels;
    side.planar.assign(static_cast<std::size_t>(planarChannels * periodFrames), 0.0f);
    side.pointers.resize(static_cast<std::size_t>(planarChannels));
    for (std::size_t c = 0; c < side.pointers.size(); ++c)
        side.pointers[c] = side.planar.data() + c * static_cast<std::size_t>(periodFrames);

    pa_sample_spec spec{PA_SAMPLE_FLOAT32NE,
                        d.sampleRateHz > 0 ? static_cast<std::uint32_t>(d.sampleRateHz) : lookup.spec.rate,
                        lookup.spec.channels};
    side.stream =
        pa_stream_new(context_, side.output ? "Quorvel playback" : "Quorvel capture", &spec, &lookup.map);
    if (!side.stream) return streamError("The audio device " + d.device + " could not be opened");
    pa_stream_set_state_callback(side.stream, &PulseCallbacks::streamState, this);
    const auto periodBytes = static_cast<std::uint32_t>(pa_frame_size(&spec) * periodFrames);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    // The device's own channels in the device's own order, on this device or not at all.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_NO_REMIX_CHANNELS | PA_STREAM_NO_REMAP_CHANNELS |
                                       PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
    int connected = 0;
    if (side.output) {
        attr.tlength = periodBytes * playbackPeriods;
        attr.minreq = periodBytes;
        pa_stream_set_write_callback(side.stream, &PulseCallbacks::write, this);
        pa_stream_set_underflow_callback(side.stream, &PulseCallbacks::underflow, this);
        connected = pa_stream_connect_playback(side.stream, d.node.c_str(), &attr, flags, nullptr, nullptr);
    } else {
        attr.fragsize = periodBytes;
        side.readBytes = 0;
        side.aheadBefore.reset();
        pa_stream_set_read_callback(side.stream, &PulseCallbacks::read, this);
        // The server's read index comes with each timing update: the data it skipped shows there.
        pa_stream_set_latency_update_callback(side.stream, &PulseCallbacks::timing, this);
        connected =
            pa_stream_connect_record(side.stream, d.node.c_str(), &attr,
                                     static_cast<pa_stream_flags_t>(flags | PA_STREAM_AUTO_TIMING_UPDATE));
    }
    if (connected < 0) return streamError("The audio device " + d.device + " could not be opened");
    pa_stream* stream = side.stream;
    if (!waitUntil(loop_, context_,
                   [&] { return pa_stream_get_state(stream) != PA_STREAM_CREATING || serverGone_.load(); })) {
        PulseDevices::missed("opening a stream");
        return streamError(serverNotResponding);
    }
    if (pa_stream_get_state(stream) != PA_STREAM_READY) {
        if (serverGone_.load()) return streamError(serverStopped);
        return streamError("The audio device " + d.device + " could not be opened");
    }
    return Status::success();
}

void PulseStream::close() {
    if (!loop_) return;
    pa_threaded_mainloop_lock(loop_);
    for (Side* side : {&input_, &output_}) {
        if (pa_stream* stream = side->stream) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream, nullptr, nullptr);
            pa_stream_set_latency_update_callback(stream, nullptr, nullptr);
            if (pa_stream_get_state(stream) == PA_STREAM_READY) pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            side->stream = nullptr;
        }
        side->ended.store(false, std::memory_order_relaxed);
    }
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_threaded_mainloop_unlock(loop_);
    // Joins the loop's thread: no callback runs after this.
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
    hooks_ = {};
    serverGone_.store(false, std::memory_order_relaxed);
}

std::string PulseStream::failure() {
    if (!loop_) return {};
    const Side* ended = nullptr;
    for (const Side* side : {&input_, &output_})
        if (side->stream && side->ended.load(std::memory_order_acquire)) ended = side;
    if (serverGone_.load(std::memory_order_acquire)) return serverStopped;
    if (!ended) return {};
    // The server ends a stream that may not move when its device goes away; another cause leaves the
    // device listed.
    if (deviceThere(*ended)) return "The audio stream of " + ended->direction.device + " stopped";
    if (serverGone_.load(std::memory_order_acquire)) return serverStopped;
    return "The audio device " + ended->direction.device + " disappeared";
}

bool PulseStream::deviceThere(const Side& side) {
    pa_threaded_mainloop_lock(loop_);
    const bool there = lookUp(loop_, context_, side.direction.node, side.output, serverGone_).found;
    pa_threaded_mainloop_unlock(loop_);
    return there;
}

// The main loop's thread: the server asks for `bytes` more of the output.
void PulseStream::write(std::size_t bytes) {
    Side& side = output_;
    periods_.fetch_add(1, std::memory_order_relaxed);
    const auto streamChannels = static_cast<std::size_t>(side.streamChannels);
    const auto rendered = static_cast<std::size_t>(side.direction.channels);
    const std::size_t frameBytes = sizeof(float) * streamChannels;
    while (bytes >= frameBytes) {
        void* data = nullptr;
        std::size_t size = std::min(bytes, static_cast<std::size_t>(periodFrames) * frameBytes);
        // Writes straight into the client library's own buffer, from its pool made beforehand.
        if (pa_stream_begin_write(side.stream, &data, &size) < 0 || !data) return;
        const std::size_t frames = std::min(size / frameBytes, static_cast<std::size_t>(periodFrames));
        if (frames == 0) {
            pa_stream_cancel_write(side.stream);
            return;
        }
        for (std::size_t c = 0; c < rendered; ++c) std::fill_n(side.pointers[c], frames, 0.0f);
        (*hooks_.render)(side.pointers.data(), side.direction.channels, static_cast<std::int64_t>(frames));
        auto* out = static_cast<float*>(data);
        for (std::size_t t = 0; t < frames; ++t) {
            for (std::size_t c = 0; c < rendered; ++c) *out++ = side.pointers[c][t];
            for (std::size_t c = rendered; c < streamChannels; ++c) *out++ = 0.0f;
        }
        if (pa_stream_write(side.stream, data, frames * frameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
        bytes -= frames * frameBytes;
    }
}

// The main loop's thread: captured input is waiting.
void PulseStream::read() {
    Side& side = input_;
    periods_.fetch_add(1, std::memory_order_relaxed);
    const auto channels = static_cast<std::size_t>(side.streamChannels);
    const std::size_t frameBytes = sizeof(float) * channels;
    for (;;) {
        const void* data = nullptr;
        std::size_t size = 0;
        if (pa_stream_peek(side.stream, &data, &size) < 0 || size == 0) return;
        if (!data) {
            // A hole: the server lost input here. The collector starts its next block after the gap.
            lostInput();
        } else {
            const auto* in = static_cast<const float*>(data);
            std::size_t frames = size / frameBytes;
            while (frames > 0) {
                const std::size_t n = std::min(frames, static_cast<std::size_t>(periodFrames));
                for (std::size_t t = 0; t < n; ++t)
                    for (std::size_t c = 0; c < channels; ++c) side.pointers[c][t] = *in++;
                TapCollector::Period flags;
                flags.overflow = gapPending_;
                gapPending_ = false;
                hooks_.collector->push(side.pointers.data(), static_cast<std::int64_t>(n), flags,
                                       *hooks_.tap);
                frames -= n;
            }
        }
        pa_stream_drop(side.stream);
        side.readBytes += static_cast<std::int64_t>(size);
    }
}

// The main loop's thread: new timing of the capture. The server's read index, less what the client library
// still holds, is where this stream's reading stands as the server counts it; it runs ahead of what was
// read only when the server dropped input instead of sending it (PipeWire does when a client falls behind
// by more than the stream's buffer), which it reports nowhere else.
void PulseStream::timingUpdated() {
    Side& side = input_;
    const pa_timing_info* info = side.stream ? pa_stream_get_timing_info(side.stream) : nullptr;
    if (!info || info->read_index_corrupt) return;
    const std::int64_t ahead = info->read_index - side.readBytes;
    if (side.aheadBefore && ahead > *side.aheadBefore) lostInput();
    side.aheadBefore = ahead;
}

// The main loop's thread.
void PulseStream::lostInput() {
    gapPending_ = true;
    xruns_.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace quorvel
