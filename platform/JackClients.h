#pragma once
// This program's JACK client: the device list, and the streams through which engines play and capture on
// JACK devices (RtAudio's JACK backend is not used).
//
// Under JACK a "device" is a client with audio ports, in the order of its first port; its capture channels
// are its output ports and its playback channels its input ports, numbered by their names whatever order
// the server gives them in: playback channels are the "playback_…" ports, then any other inputs; capture
// channels the "capture_…" ports, then the "monitor_…" ports, then any other outputs (under PipeWire one
// client holds the nodes of one name: a sink's playback and monitor ports, a source's capture ports).
// Clients of this program (named with jackClientPrefix) are not devices. Devices are found and connected
// by their exact client name.
//
// One client per process. libjack keeps process-wide state: when one of its clients sees the server die,
// it marks the server gone before it calls our shutdown callback, and the next jack_client_open anywhere
// in the process then closes and deletes every client of the process that is still open, under whoever
// owns them. Nothing outside libjack can see that mark, and the server may die between any look and an
// open. So jack_client_open is only ever called while the process holds no client: every stream shares
// one client, registering its own ports on it and served from its one process callback through a fixed
// slot, and listings read through it too. The first listing or stream opens it, and it stays open while
// its server lives, so that no close of ours can meet another client's arrival in libjack (a close then
// could wait for ever on a lock of libjack's); it is closed at exit. After a server death every stream is
// closed by its owner (JackStream::doomed()); once the last one has gone, the next listing or open closes
// the dead server's client and opens a new one. An open waits until the last stream has gone, and fails
// with a clear error if that takes too long; a listing of a stopped server lists nothing at once.
// PipeWire's libjack tells a shutdown without a reason both when its connection breaks and for errors
// after which the server goes on running the client: such a notice counts as the server's death only once
// the process callback has also stayed silent for two seconds.
//
// A server that stops answering (stopped, or stuck in its driver) blocks libjack's requests with no time
// limit. So every libjack call that may wait on the server runs on the JACK server thread
// (ServerThread.h), one at a time, and its caller waits for it only until a deadline: five seconds for a
// listing and for each step of an open and a start, 750 ms for all of a close (an engine's stop() returns
// within a second). A call past its deadline stays with that thread; until it returns, listings and opens
// fail at once ("The JACK server is not responding"), and closes let their client go as a dead server's:
// the stream leaves its slot, its ports are not unregistered, and the client is closed on that thread
// whenever the server answers or dies. A client whose streams stopped being called back
// (JackStream::stalled()) is let go the same way. No lock that another thread needs is held across a call
// to the server.
//
// libjack's own messages are dropped rather than printed: they come from libjack's threads, which closing
// the client cancels asynchronously, and nothing there may hold a lock or an output stream. Failures are
// logged with libjack's status bits decoded, and a failed open's error carries the status as its code.
//
// Threads: one owner thread per object unless stated.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioDevices.h"
#include "platform/ServerThread.h"

namespace quorvel {

class TapCollector;

namespace JackClients {

inline constexpr const char* jackClientPrefix = "quorvel-";

struct Device {
    std::string name;
    int captureChannels = 0;
    int playbackChannels = 0;
    // Some of its capture or playback ports are physical: a sound card's (jackd's system), or under
    // PipeWire a sink's or a source's rather than a program's.
    bool physicalCapture = false;
    bool physicalPlayback = false;
};

struct Listing {
    std::vector<Device> devices;
    double sampleRateHz = 0;
};

// The server's devices, through the process's client (opened if there is none); nullopt when no server
// runs, when it does not answer within five seconds (or did not answer an earlier call that has not
// returned yet: answering()), and when the process's client saw its server stop: then `stopped` is set.
// Any thread.
std::optional<Listing> list(bool* stopped = nullptr);

// The thread of every libjack call that may wait on the server (ServerThread.h).
ServerThread& server();

// False while the server has not answered a call past its deadline, or the process's client stopped being
// called back: calls fail at once meanwhile. Any thread; never waits on the server.
bool answering();

}  // namespace JackClients

// One run of an engine's JACK directions on the process's client: an input port per captured channel and
// an output port per played channel, each connected by exact name to the device's port of the same
// number, and one slot of the client's process callback that serves both directions.
class JackStream {
public:
    struct Direction {
        std::string device;  // the device's client name; empty: this direction is not used
        int channels = 0;
    };
    // What the process callback drives; fixed for the run and owned by the engine. Audio thread only
    // while the stream runs.
    struct Hooks {
        TapCollector* collector = nullptr;  // with the input
        const AudioTap* tap = nullptr;
        const AudioRender* render = nullptr;  // with the output
    };

    JackStream() = default;
    ~JackStream() { close(); }
    JackStream(const JackStream&) = delete;
    JackStream& operator=(const JackStream&) = delete;

    // Takes a share of the process's client and registers the stream's ports; nothing runs yet. On
    // failure nothing stays open; when the client could not open, the error's code is libjack's status.
    Status open(const Direction& input, const Direction& output);
    // Frames of the server's period, for the collector (after open()).
    std::int64_t periodFrames() const;
    // Puts the stream in its slot of the process callback and connects the ports (after open(); the
    // collector prepared). The callback delivers nothing until every connection is made, and drops the
    // first captured period after that, which may have run on the connections only partly made.
    Status start(Hooks hooks);
    // Takes the stream out of the callback, drops its ports and its share of the client (closing the
    // client if it was the last); harmless when closed. Returns only when the callback no longer runs
    // anything of this stream, and within a second whatever the server does. The owner thread, or a
    // watcher thread that the owner joins before it calls anything else.
    void close();
    // The stream has not been called back for long while the server stays (a stopped server, a driver
    // that hangs): the process's client is let go as a dead server's from now on. As close().
    void stalled();
    bool isOpen() const { return slot_ >= 0; }

    // Any thread.
    // The server stopped (or died before the client noticed): close() now, so that the next open can go.
    bool doomed() const;
    // A connected device's client left the server.
    bool deviceGone() const { return deviceGone_.load(std::memory_order_acquire); }
    // Process callbacks run so far, and periods that followed lost ones (xruns: told by the server, or seen
    // in a jump of its frame clock).
    std::uint64_t periods() const { return periods_.load(std::memory_order_relaxed); }
    std::uint64_t xruns() const { return xruns_.load(std::memory_order_relaxed); }

private:
    friend struct JackCallbacks;  // libjack's callbacks, with libjack's types
    // Audio thread, while in its slot: one period of `frames` frames at the server's frame time `frameTime`.
    void process(std::uint32_t frames, std::uint32_t frameTime);
    // libjack's notification thread, while in its slot.
    void clientLeft(const char* client);
    void xrun();
    Status connect(const Direction& direction, bool input);
    std::string describe() const;

    int slot_ = -1;  // our slot of the client, reserved from open() to close()
    bool inSlot_ = false;
    bool started_ = false;
    std::string name_;  // of our ports: "<name>-in_<k>", "<name>-out_<k>"
    Direction input_;
    Direction output_;
    std::vector<void*> inputPorts_;   // jack_port_t, fixed while open
    std::vector<void*> outputPorts_;  // likewise
    Hooks hooks_;

    // Audio thread state, sized in open().
    std::vector<const float*> inputPointers_;
    std::vector<float*> outputPointers_;
    int settlingPeriods_ = 0;
    // The server's frame time the next period should have, once one has run (start() forgets it).
    bool clockKnown_ = false;
    std::uint32_t nextFrameTime_ = 0;
    bool inputLost_ = false;  // periods were dropped: the next one delivered follows lost input

    // Set by start() once every port is connected (release), read by the callback (acquire).
    std::atomic<bool> connected_{false};
    // Written by libjack's threads, read anywhere.
    std::atomic<bool> deviceGone_{false};
    std::atomic<bool> xrunPending_{false};
    std::atomic<std::uint64_t> periods_{0};
    std::atomic<std::uint64_t> xruns_{0};
};

}  // namespace quorvel
