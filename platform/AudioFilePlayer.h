#pragma once
// A stereo player of one audio file on an audio engine's output: play, pause, stop, a settable
// position, endless looping, pan and a volume that fades linearly to a new value.
//
// The file streams (AudioFileStream): a worker decodes it and converts it to the output device's rate
// ahead of playback, so memory stays bounded whatever the file's length, and the audio thread only copies
// from the stream's ring and reads atomics: it never allocates, locks or waits. After a seek, the output is
// silent (and the position holds) until the first new samples are there, a few milliseconds later.
// A mono file sounds on both outputs; a file with more than two channels plays its first two. On a device
// with one output the two channels are mixed down to it (OutputLayout::mixToMono).
//
// Threads: open/make and every member run on one owner thread at a time (a worker makes and prepares the
// player, then hands it to the main thread), except load(), which may run on any thread. The engine's audio
// thread runs the render callback; a failure of the running engine is recorded from the engine's background
// thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/AudioDevices.h"
#include "platform/AudioFileStream.h"
#include "platform/Result.h"

namespace quorvel {

class AudioFilePlayer {
public:
    // The code of the error for an engine without a usable output (domain AudioStatus::errorDomain).
    static constexpr long noOutputCode = 1;

    // Opens the file for streaming at `outputRateHz`. Any thread. Fails with the file layer's error, or a
    // "soxr" error.
    static Result<std::shared_ptr<AudioFileStream>> load(const std::string& path, double outputRateHz);

    // A player of `audio` on `engine`, which is stopped and already bound (its output format decides
    // nothing here: `audio` must already be at the output's rate). Fails when the engine's output has no
    // device or fewer than one channel. The player takes the stream over: nothing else may use it.
    static Result<std::unique_ptr<AudioFilePlayer>> make(std::unique_ptr<AudioEngine> engine,
                                                         std::shared_ptr<AudioFileStream> audio);

    // Makes an engine on `system`, binds its output to `outputDevice` (0: the system default), loads the
    // file at that output's rate and makes the player. Fails with a clear description when there is no
    // output device at all.
    static Result<std::unique_ptr<AudioFilePlayer>> open(const std::string& path, AudioSystem& system,
                                                         std::uint32_t outputDevice = 0);

    // The output rate of the engine's bound device; 0 when it has no output (no device, no channels).
    static double outputRate(AudioEngine& engine);

    ~AudioFilePlayer();
    AudioFilePlayer(const AudioFilePlayer&) = delete;
    AudioFilePlayer& operator=(const AudioFilePlayer&) = delete;

    // Starts the output stream without sounding anything, so that play() starts at once. May wait on the
    // sound server, as the engine's start() does.
    Status prepareToPlay();
    // Plays from the current position (from the start when the position is at the end). Starts the
    // output stream when it does not run; its failure is returned and nothing plays.
    Status play();
    // play() on the stream prepareToPlay() started, which it never opens again: it never waits on a sound
    // server. Fails with the engine's failure, or when the stream does not run, and nothing plays.
    Status resume();
    // Holds the position; the stream keeps running on silence.
    void pause();
    // Stops sounding and closes the output stream; the position stays.
    void stop();
    // True while sounding: false after pause() or stop(), once the end is reached without looping, and
    // after the engine failed.
    bool isPlaying() const;

    // Seconds. setCurrentTime clamps to 0 ... duration.
    double currentTime() const;
    void setCurrentTime(double seconds);
    double duration() const;

    // Endless looping from the end back to the start (off at creation).
    void setLooping(bool endless);
    bool looping() const;

    // −1 (left only) ... +1 (right only); 0 leaves both channels at full level. Clamped; NaN counts as 0.
    void setPan(float pan);
    float pan() const;

    // Linear amplitude 0 ... 1 (1 at creation), reached by a linear fade over `fadeSeconds` from the
    // volume that sounds at the moment the audio thread takes the change; 0 s applies it from the next
    // sample rendered. A value set before play() applies from the first sample.
    void setVolume(float volume, double fadeSeconds = 0);
    float volume() const;

    // The failure of the running engine (the sound server or device went away), or of the file (damaged
    // part-way: playback ends there); none while both work.
    std::optional<Error> failure() const;

private:
    struct Fade {
        float target = 1.0f;
        std::uint32_t frames = 0;
        bool operator==(const Fade&) const = default;
    };

    AudioFilePlayer(std::unique_ptr<AudioEngine> engine, std::shared_ptr<AudioFileStream> audio);
    // Audio thread only.
    void render(float* const* out, int channelCount, std::int64_t frameCount);

    // Owner thread, and the audio thread through the stream's own audio-thread members.
    std::shared_ptr<AudioFileStream> audio_;
    double rate_ = 0;
    // The engine's clock stands still while a render waits (a simulated device): a render may then
    // wait for the stream rather than play silence.
    bool mayWait_ = false;

    // Shared with the audio thread. The owner writes playing_ true and the settings; the audio thread
    // writes playing_ false at the end. Only the values cross, except that playing_ true is released after
    // the settings on a running stream, so that the first sample sounds with them.
    std::atomic<bool> playing_{false};
    std::atomic<float> pan_{0.0f};
    std::atomic<Fade> fade_{};

    // Audio thread only: the volume that sounds and the fade under way.
    Fade lastFade_{};
    float gain_ = 1.0f;
    float gainStep_ = 0.0f;
    std::uint32_t fadeLeft_ = 0;

    // Written by the engine's failure handler (a background thread), read by the owner.
    mutable std::mutex failureMutex_;
    std::optional<Error> failure_;
    std::atomic<bool> failed_{false};

    // Last, so that it is destroyed (and its callbacks have ended) before everything above.
    std::unique_ptr<AudioEngine> engine_;
};

}  // namespace quorvel
