#pragma once
// The server a PulseAudio-path test runs against. tests/CMakeLists.txt registers each such test twice, with
// QUORVEL_PULSE_KIND "pulseaudio" (the pulse fixture) and "pipewire" (the pipewire fixture, PipeWire's
// PulseAudio side, tests named PipeWire.*). Main thread.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "PipeWireTestServer.h"
#include "PulseTestServer.h"

namespace quorvel::PulseServers {

inline bool pipewire() {
    const char* kind = std::getenv("QUORVEL_PULSE_KIND");
    return kind && std::string(kind) == "pipewire";
}

// The fixture's note that the server's programs are not installed here; empty when they are.
inline std::string missing() {
    const char* fixtures = std::getenv("QUORVEL_FIXTURE_DIR");
    if (!fixtures) return {};
    std::ifstream note(std::string(fixtures) + (pipewire() ? "/pipewire/missing" : "/pulse/missing"));
    std::string text;
    std::getline(note, text);
    return text;
}

// The listed name of the device that records what `sink` plays: PulseAudio lists a sink's monitor as a
// device of its own, PipeWire's PulseAudio side as the sink's inputs.
inline std::string monitorOf(const std::string& sink) { return pipewire() ? sink : "Monitor of " + sink; }

// Runs pactl with `arguments` on the server under test (PULSE_SERVER); its output.
inline std::string pactl(const std::string& arguments) {
    std::string out;
    if (FILE* pipe = popen(("pactl " + arguments + " 2>&1").c_str(), "r")) {
        char chunk[256];
        while (std::fgets(chunk, sizeof chunk, pipe)) out += chunk;
        pclose(pipe);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// A private server of the kind under test, for a test that kills it.
class PrivateServer {
public:
    PrivateServer() {
        if (pipewire())
            pipewire_.emplace();
        else
            pulse_.emplace();
    }
    bool start() { return pipewire_ ? pipewire_->start() : pulse_->start(); }
    void kill() { pipewire_ ? pipewire_->kill() : pulse_->kill(); }
    // Stops the server that speaks PulseAudio's protocol where it is (pulseaudio, or pipewire-pulse), or
    // lets it go on.
    void freeze(bool frozen) { pipewire_ ? pipewire_->freezePulse(frozen) : pulse_->freeze(frozen); }

private:
    std::optional<PulseTestServer> pulse_;
    std::optional<PipeWireTestServer> pipewire_;
};

}  // namespace quorvel::PulseServers

// In a fixture's SetUp: skips the test, saying why, when the server under test is not installed.
#define QUORVEL_SKIP_WITHOUT_PULSE_SERVER()                                                                \
    do {                                                                                                   \
        if (const std::string why = ::quorvel::PulseServers::missing(); !why.empty()) GTEST_SKIP() << why; \
    } while (false)
