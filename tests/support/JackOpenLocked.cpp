// Every jack_client_open of a JACK test program, ours and RtAudio's, runs under the machine-wide open lock.
#include <dlfcn.h>
#include <jack/jack.h>

#include <cstdarg>

#include "JackLocks.h"

extern "C" jack_client_t* jack_client_open(const char* name, jack_options_t options, jack_status_t* status,
                                           ...) {
    using Open = jack_client_t* (*)(const char*, jack_options_t, jack_status_t*, ...);
    static const Open real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "jack_client_open"));
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
    MachineLock lock(jackOpenLockPath, std::chrono::seconds(30));
    return real(name, options, status, extra[0], extra[1], extra[2], extra[3]);
}
