// Every jack_client_open of a JACK test program, ours and RtAudio's, runs under the machine-wide open lock.
// The wrappers also count the clients the process holds, and can fail opens, delay shutdown callbacks, tell
// a shutdown and leave out cycles as PipeWire's libjack does (JackOpenLocked.h).
#include "JackOpenLocked.h"

#include <dlfcn.h>
#include <jack/jack.h>

#include <atomic>
#include <cstdarg>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "JackLocks.h"

namespace {

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

std::atomic<int> g_held{0};
std::atomic<int> g_opensWhileHeld{0};
std::atomic<long> g_shutdownDelayMS{0};
std::atomic<int> g_failingOpens{0};
std::atomic<bool> g_lockOpens{true};
std::atomic<int> g_failureStatus{0};

// A shutdown callback with the delay it was registered with. Kept for the life of the process: libjack
// may call it until its client is closed.
struct DelayedShutdown {
    JackInfoShutdownCallback callback;
    void* arg;
    std::chrono::milliseconds delay;
};
std::mutex g_delayedMutex;
std::vector<std::unique_ptr<DelayedShutdown>> g_delayed;

void delayedShutdown(jack_status_t code, const char* reason, void* arg) {
    const auto* d = static_cast<const DelayedShutdown*>(arg);
    std::this_thread::sleep_for(d->delay);
    d->callback(code, reason, d->arg);
}

// A process callback as registered, kept for the life of the process: libjack may call it until its
// client is closed. The cycles to leave out are counted down by whichever callback runs first.
struct Process {
    JackProcessCallback callback;
    void* arg;
};
std::mutex g_processMutex;
std::vector<std::unique_ptr<Process>> g_processes;
std::atomic<int> g_cyclesToSkip{0};
std::atomic<int> g_cyclesSkipped{0};

int skippingProcess(jack_nframes_t frames, void* arg) {
    const auto* p = static_cast<const Process*>(arg);
    if (int left = g_cyclesToSkip.load();
        left > 0 && g_cyclesToSkip.compare_exchange_strong(left, left - 1)) {
        ++g_cyclesSkipped;
        return 0;
    }
    return p->callback(frames, p->arg);
}

// The jack_on_shutdown callbacks of the clients open now, for telling them of a shutdown.
struct ShutdownCallback {
    jack_client_t* client;
    JackShutdownCallback callback;
    void* arg;
};
std::mutex g_shutdownMutex;
std::vector<ShutdownCallback> g_shutdownCallbacks;

}  // namespace

namespace JackOpenLocked {

void delayShutdownCallbacks(std::chrono::milliseconds delay) { g_shutdownDelayMS = delay.count(); }
void failNextOpens(int count, int status) {
    g_failureStatus = status;
    g_failingOpens = count;
}
void lockOpens(bool locked) { g_lockOpens = locked; }
int clientsHeld() { return g_held; }
int tellShutdownWithoutReason() {
    std::lock_guard lock(g_shutdownMutex);
    for (const auto& c : g_shutdownCallbacks) c.callback(c.arg);
    return static_cast<int>(g_shutdownCallbacks.size());
}
int opensWhileHeld() { return g_opensWhileHeld; }
void skipProcessCycles(int count) { g_cyclesToSkip = count; }
int skippedProcessCycles() { return g_cyclesSkipped; }

}  // namespace JackOpenLocked

extern "C" jack_client_t* jack_client_open(const char* name, jack_options_t options, jack_status_t* status,
                                           ...) {
    using Open = jack_client_t* (*)(const char*, jack_options_t, jack_status_t*, ...);
    static const Open real = next<Open>("jack_client_open");
    // libjack's optional arguments by option bit: server name, client name, init string, session id.
    const char* extra[4] = {nullptr, nullptr, nullptr, nullptr};
    va_list args;
    va_start(args, status);
    int n = 0;
    for (int bit : {JackServerName, JackLoadName, JackLoadInit, JackSessionID})
        if (options & bit) extra[n++] = va_arg(args, const char*);
    va_end(args);
    if (!real) {
        if (status) *status = static_cast<jack_status_t>(JackFailure);
        return nullptr;
    }
    if (int left = g_failingOpens.load();
        left > 0 && g_failingOpens.compare_exchange_strong(left, left - 1)) {
        if (status) *status = static_cast<jack_status_t>(g_failureStatus.load());
        return nullptr;
    }
    if (g_held > 0) ++g_opensWhileHeld;
    std::optional<MachineLock> lock;
    if (g_lockOpens) lock.emplace(jackOpenLockPath, std::chrono::seconds(30));
    jack_client_t* client = real(name, options, status, extra[0], extra[1], extra[2], extra[3]);
    if (client) ++g_held;
    return client;
}

extern "C" int jack_client_close(jack_client_t* client) {
    using Close = int (*)(jack_client_t*);
    static const Close real = next<Close>("jack_client_close");
    if (!real) return -1;
    {
        std::lock_guard lock(g_shutdownMutex);
        std::erase_if(g_shutdownCallbacks, [&](const ShutdownCallback& c) { return c.client == client; });
    }
    const int result = real(client);
    --g_held;
    return result;
}

extern "C" void jack_on_shutdown(jack_client_t* client, JackShutdownCallback callback, void* arg) {
    using OnShutdown = void (*)(jack_client_t*, JackShutdownCallback, void*);
    static const OnShutdown real = next<OnShutdown>("jack_on_shutdown");
    if (!real) return;
    if (callback) {
        std::lock_guard lock(g_shutdownMutex);
        g_shutdownCallbacks.push_back({client, callback, arg});
    }
    real(client, callback, arg);
}

extern "C" void jack_on_info_shutdown(jack_client_t* client, JackInfoShutdownCallback callback, void* arg) {
    using OnShutdown = void (*)(jack_client_t*, JackInfoShutdownCallback, void*);
    static const OnShutdown real = next<OnShutdown>("jack_on_info_shutdown");
    if (!real) return;
    const std::chrono::milliseconds delay(g_shutdownDelayMS.load());
    if (delay.count() == 0 || !callback) return real(client, callback, arg);
    std::lock_guard lock(g_delayedMutex);
    g_delayed.push_back(std::make_unique<DelayedShutdown>(DelayedShutdown{callback, arg, delay}));
    real(client, &delayedShutdown, g_delayed.back().get());
}

extern "C" int jack_set_process_callback(jack_client_t* client, JackProcessCallback callback, void* arg) {
    using SetProcess = int (*)(jack_client_t*, JackProcessCallback, void*);
    static const SetProcess real = next<SetProcess>("jack_set_process_callback");
    if (!real) return -1;
    if (!callback) return real(client, callback, arg);
    std::lock_guard lock(g_processMutex);
    g_processes.push_back(std::make_unique<Process>(Process{callback, arg}));
    return real(client, &skippingProcess, g_processes.back().get());
}
