#pragma once
// Plays one prepared multichannel buffer through an engine's render callback, looping it without a gap
// until it is stopped, at a volume that may change while it sounds. Buffer channel c goes to render
// channel c; render channels the buffer lacks stay silent.
//
// Threads: schedule() and stop() on the owner thread while the engine that calls render() is stopped
// (AudioEngine::stop() returns only once no callback runs, and start() happens after schedule()).
// setVolume() and volume() any thread. render() audio thread only: it neither allocates nor locks.
#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/AudioDevices.h"
#include "platform/AudioFile.h"

namespace quorvel {

class BufferPlayer {
public:
    // Takes the buffer to loop from its first frame (its frameLength() frames). Owner thread.
    void schedule(std::shared_ptr<const AudioBuffer> buffer);
    // Drops the buffer, freeing it here rather than on the audio thread; render() is then silent.
    void stop();

    // Linear gain applied to every sample; 1 at creation. Any thread.
    void setVolume(float volume) { volume_.store(volume, std::memory_order_relaxed); }
    float volume() const { return volume_.load(std::memory_order_relaxed); }

    // A render callback that calls render(); the player must outlive the engine's use of it.
    AudioRender renderer();

    // Audio thread only. Writes frames samples of each of channelCount channels.
    void render(float* const* channels, int channelCount, std::int64_t frames);

private:
    std::shared_ptr<const AudioBuffer> buffer_;  // replaced only while no render runs
    std::int64_t position_ = 0;                  // next frame to play; audio thread while running
    // Only the value crosses threads, nothing is published with it: relaxed is enough.
    std::atomic<float> volume_{1.0f};
};

}  // namespace quorvel
