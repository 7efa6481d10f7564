#include "platform/PulseDevices.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>

namespace quorvel::PulseDevices {

namespace {

// How long a listing waits for the server: a stopped server refuses at once, so only a frozen one waits.
constexpr auto answerWait = std::chrono::seconds(5);
// How long a connection made on the server thread waits for the server at the most. The caller has long
// given up by then; the limit only keeps a server that never answers from keeping the thread for ever.
constexpr pa_usec_t longestWaitUsec = 60 * PA_USEC_PER_SEC;

template <typename Info>
Node nodeOf(const Info& i) {
    const char* description = pa_proplist_gets(i.proplist, PA_PROP_DEVICE_DESCRIPTION);
    return {i.name ? i.name : "",
            description ? description : (i.description ? i.description : ""),
            i.sample_spec.channels,
            static_cast<double>(i.sample_spec.rate),
            {}};
}

// One listing on a main loop of its own, run by the calling thread.
struct Query {
    ServerState state;
    bool done = false;
    bool failed = false;

    void finish(bool ok) {
        done = true;
        failed = failed || !ok;
    }

    static void onState(pa_context* context, void* self) {
        auto* q = static_cast<Query*>(self);
        switch (pa_context_get_state(context)) {
            case PA_CONTEXT_READY:
                // Answers come in the order asked: the defaults are known before the nodes.
                if (auto* op = pa_context_get_server_info(context, &Query::onServer, q))
                    pa_operation_unref(op);
                if (auto* op = pa_context_get_sink_info_list(context, &Query::onSink, q))
                    pa_operation_unref(op);
                if (auto* op = pa_context_get_source_info_list(context, &Query::onSource, q))
                    pa_operation_unref(op);
                else
                    q->finish(false);
                break;
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED:
                q->finish(false);
                break;
            default:
                break;
        }
    }
    static void onServer(pa_context*, const pa_server_info* i, void* self) {
        auto* q = static_cast<Query*>(self);
        if (!i) {
            q->finish(false);
            return;
        }
        q->state.defaultSink = i->default_sink_name ? i->default_sink_name : "";
        q->state.defaultSource = i->default_source_name ? i->default_source_name : "";
    }
    static void onSink(pa_context*, const pa_sink_info* i, int eol, void* self) {
        auto* q = static_cast<Query*>(self);
        if (eol < 0) q->finish(false);
        if (eol == 0 && i) q->state.sinks.push_back(nodeOf(*i));
    }
    static void onSource(pa_context*, const pa_source_info* i, int eol, void* self) {
        auto* q = static_cast<Query*>(self);
        if (eol != 0) q->finish(eol > 0);
        if (eol == 0 && i) {
            Node& node = q->state.sources.emplace_back(nodeOf(*i));
            if (i->monitor_of_sink_name) node.monitorOf = i->monitor_of_sink_name;
        }
    }
    static void onTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        static_cast<Query*>(self)->finish(false);
    }
};

}  // namespace

Listing merge(const ServerState& state) {
    Listing listing;
    auto& devices = listing.devices;
    auto start = [&](const Node& node, bool isDefault) -> Device& {
        Device d;
        d.name = node.description;
        d.sampleRateHz = node.sampleRateHz;
        return *devices.insert(isDefault ? devices.begin() : devices.end(), std::move(d));
    };
    for (const Node& sink : state.sinks) {
        const bool isDefault = sink.name == state.defaultSink;
        Device& d = start(sink, isDefault);
        d.sink = sink.name;
        d.outputChannels = sink.channels;
        d.defaultOutput = isDefault;
    }
    // The PulseAudio name of each sink's monitor, to tell a device's own monitor from another source.
    auto monitorOf = [&](const std::string& sink) -> const std::string* {
        for (const Node& source : state.sources)
            if (!sink.empty() && source.monitorOf == sink) return &source.name;
        return nullptr;
    };
    for (const Node& source : state.sources) {
        const bool isDefault = source.name == state.defaultSource;
        auto joins = [&](const Device& d) {
            if (d.name != source.description || d.sink.empty()) return false;
            if (!source.monitorOf.empty() && source.monitorOf == d.sink) return true;
            const std::string* own = monitorOf(d.sink);
            return d.source.empty() || (own && d.source == *own);
        };
        // Its own sink's device first, then the first that it may join.
        auto it = std::find_if(devices.begin(), devices.end(), [&](const Device& d) {
            return !source.monitorOf.empty() && d.sink == source.monitorOf && joins(d);
        });
        if (it == devices.end()) it = std::find_if(devices.begin(), devices.end(), joins);
        Device& d = it != devices.end() ? *it : start(source, isDefault);
        d.source = source.name;
        d.inputChannels = source.channels;
        d.defaultInput = isDefault;
    }
    auto firstFlagged = [&](bool Device::*flag) -> std::size_t {
        const auto it =
            std::find_if(devices.begin(), devices.end(), [&](const Device& d) { return d.*flag; });
        return it == devices.end() ? 0 : static_cast<std::size_t>(it - devices.begin());
    };
    listing.defaultInput = firstFlagged(&Device::defaultInput);
    listing.defaultOutput = firstFlagged(&Device::defaultOutput);
    return listing;
}

namespace {

// Connects and, with `ask` set, asks for the server's devices; returns once the server has answered, refused,
// or not answered within longestWaitUsec. The calling thread runs the connection's loop.
Query connectAndAsk(bool ask) {
    Query query;
    std::unique_ptr<pa_mainloop, decltype(&pa_mainloop_free)> loop(pa_mainloop_new(), &pa_mainloop_free);
    if (!loop) {
        query.finish(false);
        return query;
    }
    std::unique_ptr<pa_context, decltype(&pa_context_unref)> context(
        pa_context_new(pa_mainloop_get_api(loop.get()), "Quorvel"), &pa_context_unref);
    if (!context) {
        query.finish(false);
        return query;
    }
    auto onState = ask ? &Query::onState : [](pa_context* c, void* self) {
        auto* q = static_cast<Query*>(self);
        const pa_context_state_t state = pa_context_get_state(c);
        if (state == PA_CONTEXT_READY) q->finish(true);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) q->finish(false);
    };
    pa_context_set_state_callback(context.get(), onState, &query);
    if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
        query.finish(false);
        return query;
    }
    pa_time_event* timeout =
        pa_context_rttime_new(context.get(), pa_rtclock_now() + longestWaitUsec, &Query::onTimeout, &query);
    while (!query.done)
        if (pa_mainloop_iterate(loop.get(), 1, nullptr) < 0) query.finish(false);
    if (timeout) pa_mainloop_get_api(loop.get())->time_free(timeout);
    pa_context_set_state_callback(context.get(), nullptr, nullptr);
    pa_context_disconnect(context.get());
    return query;
}

}  // namespace

ServerThread& server() {
    static ServerThread* thread = new ServerThread("PulseAudio");  // never destroyed (ServerThread.h)
    return *thread;
}

bool answering() {
    std::lock_guard lock(server().mutex());
    return server().answering();
}

void missed(const char* what) {
    std::lock_guard lock(server().mutex());
    server().missed(what, [] { connectAndAsk(false); });
}

std::optional<Listing> list() {
    auto query = std::make_shared<Query>();
    const bool answered = server().run("listing", std::chrono::steady_clock::now() + answerWait,
                                       [query] { *query = connectAndAsk(true); });
    if (!answered || query->failed) return std::nullopt;
    return merge(query->state);
}

}  // namespace quorvel::PulseDevices
