#pragma once
// The PulseAudio server's devices (PulseAudio itself, or PipeWire's PulseAudio side), listed exactly as
// RtAudio 5.2's PulseAudio backend listed them, which earlier versions used: a stored device id is a hash of
// the name (DeviceIds.h), so names, and the order that decides which of two equal names keeps the plain id,
// must not change.
//
// RtAudio's rules, kept as they are:
// - A device is named by its sink's or source's "device.description" property (the description when a
//   node has none). The sinks come first, in the server's order, then the sources.
// - A sink or source whose name is already listed is merged into that device: it takes over the device's
//   channel count for its direction, its PulseAudio name and its default flag; the rate stays the first
//   node's. PulseAudio calls a sink's monitor "Monitor of <sink>", so there a sink and its monitor are two
//   devices; pipewire-pulse gives a monitor its sink's description, so there they are one device with
//   inputs and outputs.
// - The default sink, and then the default source, goes first in the list when it starts a device.
// - The default output is the first device flagged as the default output, else the first device; likewise
//   the default input.
// - A device's rate is its first node's rate.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::PulseDevices {

// A sink or a source as the server reports it.
struct Node {
    std::string name;         // PulseAudio's name ("qv_six", "qv_six.monitor"): what a stream connects to
    std::string description;  // the "device.description" property, else the description
    int channels = 0;
    double sampleRateHz = 0;
};

struct ServerState {
    std::string defaultSink;  // PulseAudio names; empty when the server has none
    std::string defaultSource;
    std::vector<Node> sinks;  // in the server's order
    std::vector<Node> sources;
};

struct Device {
    std::string name;    // the description
    std::string sink;    // PulseAudio name of the sink that plays it; empty when it has no outputs
    std::string source;  // likewise the source that captures it
    int inputChannels = 0;
    int outputChannels = 0;
    double sampleRateHz = 0;
    bool defaultInput = false;  // the flags as merged; the defaults themselves are Listing's
    bool defaultOutput = false;
};

struct Listing {
    std::vector<Device> devices;
    // Positions in `devices`; 0 when no device is flagged (then meaningful only if devices is not empty).
    std::size_t defaultInput = 0;
    std::size_t defaultOutput = 0;
};

// The devices of a server state, by the rules above. Any thread.
Listing merge(const ServerState& state);

// Asks the server (PULSE_SERVER, else the user's default server) over a short-lived connection; nullopt
// when no server answers within a few seconds. Any thread.
std::optional<Listing> list();

}  // namespace quorvel::PulseDevices
