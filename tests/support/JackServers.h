#pragma once
// The server a JACK-path test runs against. tests/CMakeLists.txt registers each such test twice: against
// the jack fixture's jackd (QUORVEL_JACK_KIND unset), and as PipeWireJack.<test> against the pipewire
// fixture's PipeWire through its JACK side (QUORVEL_JACK_KIND "pipewire", libjack taken from PipeWire as
// pw-jack does). Both servers run at 48 kHz with 1024-frame periods and carry the loopback test interfaces
// of qv_jack_interface (jack-start.sh, pipewire-start.sh); PipeWire has no "system" client, and its
// sinks are JACK devices too. Main thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace quorvel::JackServers {

inline bool pipewire() {
    const char* kind = std::getenv("QUORVEL_JACK_KIND");
    return kind && std::string(kind) == "pipewire";
}

// The pipewire fixture's note that PipeWire or its JACK side is not installed here; empty when they are
// (and always under jackd, whose fixture fails without it).
inline std::string missing() {
    const char* fixtures = std::getenv("QUORVEL_FIXTURE_DIR");
    if (!pipewire() || !fixtures) return {};
    for (const char* note : {"/pipewire/missing", "/pipewire/jack-missing"}) {
        std::ifstream file(std::string(fixtures) + note);
        std::string text;
        if (std::getline(file, text) && !text.empty()) return text;
    }
    return {};
}

// The loopback interface whose capture k is its playback k delayed 48 × (k − 1) frames (16 channels):
// under PipeWire the name qv-sixteen is a sink's.
inline std::string delayedLoop() { return pipewire() ? "qv-delays" : "qv-sixteen"; }

}  // namespace quorvel::JackServers

// At the start of a JACK-path test: skips it, saying why, when the server under test is not installed.
#define QUORVEL_SKIP_WITHOUT_JACK_SERVER()                                                                \
    do {                                                                                                  \
        if (const std::string why = ::quorvel::JackServers::missing(); !why.empty()) GTEST_SKIP() << why; \
    } while (false)

// Skips a test that holds only for jackd when it runs under PipeWire, saying why.
#define QUORVEL_JACKD_ONLY(why)                                                        \
    do {                                                                               \
        QUORVEL_SKIP_WITHOUT_JACK_SERVER();                                            \
        if (::quorvel::JackServers::pipewire()) GTEST_SKIP() << "jackd only: " << why; \
    } while (false)

// Skips a test that holds only for PipeWire when it runs under jackd, saying why.
#define QUORVEL_PIPEWIRE_ONLY(why)                                                         \
    do {                                                                                   \
        QUORVEL_SKIP_WITHOUT_JACK_SERVER();                                                \
        if (!::quorvel::JackServers::pipewire()) GTEST_SKIP() << "PipeWire only: " << why; \
    } while (false)
