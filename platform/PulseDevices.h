#pragma once
// The PulseAudio server's devices (PulseAudio itself, or PipeWire's PulseAudio side), listed as RtAudio 5.2's
// PulseAudio backend listed them, which earlier versions used: a stored device id is a hash of the name
// (DeviceIds.h), so names, and the order that decides which of two equal names keeps the plain id, must not
// change. Only where RtAudio lost a device does this list differ: it kept one of two sinks (or two sources)
// of one description.
//
// The rules:
// - A device is named by its sink's or source's "device.description" property (the description when a
//   node has none). The sinks come first, in the server's order, then the sources.
// - Every sink is a device of its own; two sinks of one description are two devices of one name, which the
//   system's list tells apart (LinuxAudioSystem.h).
// - A source joins a device of its description that has a sink, and takes over that device's inputs, its
//   PulseAudio name and its default flag: a sink's monitor joins its own sink's device, whatever input it
//   had; any other source the first such device whose inputs are none or its sink's monitor. Otherwise it
//   is a device of its own. PulseAudio calls a sink's monitor "Monitor of <sink>", so there a sink and its
//   monitor are two devices; pipewire-pulse gives a monitor its sink's description, so there they are one
//   device with inputs and outputs, and so are a sink and a source of one description.
// - The default sink, and then the default source, goes first in the list when it starts a device.
// - The default output is the first device flagged as the default output, else the first device; likewise
//   the default input.
// - A device's rate is its first node's rate.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/ServerThread.h"

namespace quorvel::PulseDevices {

// A sink or a source as the server reports it.
struct Node {
    std::string name;         // PulseAudio's name ("qv_six", "qv_six.monitor"): what a stream connects to
    std::string description;  // the "device.description" property, else the description
    int channels = 0;
    double sampleRateHz = 0;
    std::string monitorOf;  // a monitor source's sink (its PulseAudio name); empty for anything else
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

// The server's calls (ServerThread.h): a listing, and the connection that waits for a server that did not
// answer. Never destroyed.
ServerThread& server();

// Asks the server (PULSE_SERVER, else the user's default server) over a short-lived connection made on
// server(); nullopt when no server runs, when it does not answer within five seconds (or is not
// responding: answering()) or the query fails. Any thread.
std::optional<Listing> list();

// False while the server has not answered a call past its deadline: calls fail at once meanwhile. Any
// thread; never waits on the server.
bool answering();
// A wait of the caller's own on the server (a stream's connection) passed its deadline: the server is not
// responding until a connection made on server() is answered or refused. Any thread.
void missed(const char* what);

}  // namespace quorvel::PulseDevices
