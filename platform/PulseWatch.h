#pragma once
// Tells when the PulseAudio server's devices (PulseAudio, or PipeWire's PulseAudio side) may have changed:
// a sink or a source appeared or went, the default sink or source moved, or the server itself went away or
// came (back). It keeps a connection of its own (PULSE_SERVER, else the user's server; never autospawning
// one), served by a libpulse threaded main loop. A server that is not there, or goes away, is asked again
// every second for as long as the watch lives; nothing ever waits for it.
//
// A sink's or source's other changes (volume, a stream starting on it) are not reported: they change
// nothing a listing shows, and a stream of our own would otherwise set off a listing every time.
//
// Threads: made and destroyed on one thread, which it never blocks on the server. `changed` runs on the
// loop's thread, with libpulse's lock held: it must return at once and must not call libpulse. It is never
// called once the destructor has returned.
#include <functional>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_time_event;
struct pa_defer_event;

namespace quorvel {

class PulseWatch {
public:
    explicit PulseWatch(std::function<void()> changed);
    ~PulseWatch();
    PulseWatch(const PulseWatch&) = delete;
    PulseWatch& operator=(const PulseWatch&) = delete;

private:
    friend struct PulseWatchCallbacks;  // libpulse's callbacks, with libpulse's types

    // Loop's thread: a new connection in place of the last one.
    void connect();
    // Loop's thread: connect() again in a second.
    void retryLater();

    std::function<void()> changed_;
    pa_threaded_mainloop* loop_ = nullptr;
    // Loop's thread only once the loop runs (the destructor takes the loop's lock).
    pa_defer_event* start_ = nullptr;  // the first connection, until it is made
    pa_context* context_ = nullptr;
    pa_time_event* retry_ = nullptr;
    bool ready_ = false;    // the connection is up: its loss is a change
    bool wasAway_ = false;  // a connection failed or was lost: the next one is a change
};

}  // namespace quorvel
