#include "platform/PulseWatch.h"

#include <pulse/pulseaudio.h>

#include <string>
#include <utility>

#include "platform/Log.h"

namespace quorvel {

namespace {
constexpr pa_usec_t retryUsec = PA_USEC_PER_SEC;
}  // namespace

// libpulse's callbacks, on the loop's thread with the loop's lock held.
struct PulseWatchCallbacks {
    static void start(pa_mainloop_api* api, pa_defer_event* event, void* self) {
        auto* w = static_cast<PulseWatch*>(self);
        api->defer_free(event);
        w->start_ = nullptr;
        w->connect();
    }
    static void retry(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        static_cast<PulseWatch*>(self)->connect();
    }
    static void state(pa_context* context, void* self) {
        auto* w = static_cast<PulseWatch*>(self);
        switch (pa_context_get_state(context)) {
            case PA_CONTEXT_READY:
                if (pa_operation* op =
                        pa_context_subscribe(context,
                                             static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                                                 PA_SUBSCRIPTION_MASK_SOURCE |
                                                                                 PA_SUBSCRIPTION_MASK_SERVER),
                                             nullptr, nullptr))
                    pa_operation_unref(op);
                w->ready_ = true;
                Log::debug(Log::Area::audio,
                           std::string("Watching the PulseAudio server ") +
                               (pa_context_get_server(context) ? pa_context_get_server(context) : "") +
                               " for device changes");
                // A server that was away, or came late, may have other devices than the last listing.
                if (w->wasAway_) w->changed_();
                break;
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED:
                if (w->ready_) {
                    Log::debug(Log::Area::audio,
                               std::string("The PulseAudio device watch lost its server: ") +
                                   pa_strerror(pa_context_errno(context)));
                    w->ready_ = false;
                    w->changed_();
                }
                w->wasAway_ = true;
                w->retryLater();
                break;
            default:
                break;
        }
    }
    static void event(pa_context*, pa_subscription_event_type_t type, std::uint32_t, void* self) {
        const unsigned facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const unsigned kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        const bool node = facility == PA_SUBSCRIPTION_EVENT_SINK || facility == PA_SUBSCRIPTION_EVENT_SOURCE;
        // The server's own changes are its default sink and source.
        if ((node && kind != PA_SUBSCRIPTION_EVENT_CHANGE) || facility == PA_SUBSCRIPTION_EVENT_SERVER)
            static_cast<PulseWatch*>(self)->changed_();
    }
};

PulseWatch::PulseWatch(std::function<void()> changed) : changed_(std::move(changed)) {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) {
        Log::warning(Log::Area::audio,
                     "Cannot start PulseAudio's client library to watch for device changes");
        return;
    }
    // The first connection is made on the loop's thread too: naming a remote server may look up its host.
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    start_ = api->defer_new(api, &PulseWatchCallbacks::start, this);
    if (!start_ || pa_threaded_mainloop_start(loop_) < 0) {
        Log::warning(Log::Area::audio,
                     "Cannot start PulseAudio's client library to watch for device changes");
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }
}

PulseWatch::~PulseWatch() {
    if (!loop_) return;
    pa_threaded_mainloop_lock(loop_);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    if (start_) api->defer_free(start_);
    if (retry_) api->time_free(retry_);
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

void PulseWatch::connect() {
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Quorvel device watch");
    if (!context_) {
        Log::warning(Log::Area::audio, "Cannot make a PulseAudio connection to watch for device changes");
        return;
    }
    pa_context_set_state_callback(context_, &PulseWatchCallbacks::state, this);
    pa_context_set_subscribe_callback(context_, &PulseWatchCallbacks::event, this);
    // A failure here has already been reported through the state callback, which retries.
    (void)pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
}

void PulseWatch::retryLater() {
    if (retry_)
        pa_context_rttime_restart(context_, retry_, pa_rtclock_now() + retryUsec);
    else
        retry_ =
            pa_context_rttime_new(context_, pa_rtclock_now() + retryUsec, &PulseWatchCallbacks::retry, this);
}

}  // namespace quorvel
