#pragma once
// One audio file decoded and converted to an output rate ahead of playback, so that a file of any length
// plays in bounded memory. A worker thread reads the file (libsndfile), converts it (libsoxr) when its rate
// is not the output's, and keeps about two seconds of two-channel audio ready in a lock-free ring that
// holds twice that; the audio thread takes from the ring. The free half takes a seek's first new frames at
// once, behind what the audio thread has yet to drop. A mono file gives the same samples on both channels; a
// file of more than two channels gives its first two.
//
// Positions are frames at the output rate. A seek starts a new generation: the worker reads from the new
// position, and whatever the ring still holds of an older generation is dropped by the reader, so the
// first sample after a seek is the first new one. The length is exact (the file's, converted) except for
// formats whose length libsndfile only estimates (MP3): there it becomes exact once the worker has met the
// end of the data.
//
// Threads: open() any thread; the owner (one thread) calls the owner members; pull() and drain() belong to
// the audio thread, which never allocates, locks or waits there (unless told it may wait, below). The
// worker is the stream's own; destroying the stream stops and joins it.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/AudioFile.h"
#include "platform/Result.h"

struct soxr;

namespace quorvel {

class AudioFileStream {
public:
    // Read-ahead kept ready, and the frames the worker hands over at a time.
    static constexpr double readAheadSeconds = 2.0;
    static constexpr std::int64_t slotFrames = 4096;

    // Opens the file and starts reading at frame 0. Fails with the file layer's error, or a "soxr" one.
    static Result<std::unique_ptr<AudioFileStream>> open(const std::string& path, double outputRateHz);
    ~AudioFileStream();
    AudioFileStream(const AudioFileStream&) = delete;
    AudioFileStream& operator=(const AudioFileStream&) = delete;

    // Any thread.
    double rate() const { return rate_; }
    std::int64_t length() const { return length_.load(std::memory_order_relaxed); }

    // Owner thread. The frame the next pull() starts at.
    std::int64_t position() const { return frameOf(cursor_.load(std::memory_order_relaxed)); }
    // Moves to `frame`, clamped to 0 ... length().
    void seek(std::int64_t frame);
    // From the end back to frame 0 without a gap (off at open). A change reads on afresh from the
    // position, since the ring may already hold what followed the end under the old setting.
    void setLooping(bool endless);
    bool looping() const { return looping_.load(std::memory_order_relaxed); }
    // The first failure met while reading (a damaged file): the stream ends there.
    std::optional<Error> failure() const;

    // Audio thread. Copies up to `frames` frames of the current position into `left` and `right` and
    // moves the position on. Fewer come when the ring runs dry (a seek not yet answered, a worker behind)
    // or at the end of the file; `ended` says the end was reached without looping, the position then
    // standing at the length. With `mayWait` an empty ring is waited for (bounded) instead: for a device
    // whose clock stands still while its caller waits (AudioEngine::realtime() false).
    struct Pulled {
        std::int64_t frames = 0;
        bool ended = false;
    };
    Pulled pull(float* left, float* right, std::int64_t frames, bool mayWait);
    // Drops what the ring holds of older generations, so that the worker can fill it for a seek made
    // while nothing is pulled (a paused player).
    void drain();

private:
    // A generation (high 24 bits) and a frame (low 40 bits) in one atomic word, so that the audio thread's
    // advance (a compare-exchange) can never overwrite a seek made meanwhile.
    static constexpr int frameBits = 40;
    static constexpr std::uint64_t frameMask = (std::uint64_t{1} << frameBits) - 1;
    static std::int64_t frameOf(std::uint64_t cursor) {
        return static_cast<std::int64_t>(cursor & frameMask);
    }
    static std::uint32_t generationOf(std::uint64_t cursor) {
        return static_cast<std::uint32_t>(cursor >> frameBits);
    }
    static std::uint64_t cursorOf(std::uint32_t generation, std::int64_t frame) {
        return (std::uint64_t{generation & 0xFFFFFF} << frameBits) |
               (static_cast<std::uint64_t>(frame) & frameMask);
    }

    struct Slot {
        std::uint32_t generation = 0;
        std::int64_t start = 0;   // frame of the first sample
        std::int64_t frames = 0;  // samples held
        // The pass wrapped to frame 0 inside this slot: positions go modulo `length`.
        bool wrapped = false;
        std::int64_t length = 0;
        bool endsFile = false;  // the file ends after these frames (not looping)
        std::vector<float> left, right;
    };

    AudioFileStream(AudioFileReader reader, double rateHz);
    void kick();

    // Worker thread only.
    void run();
    void startPass(std::uint32_t generation, std::int64_t frame);
    void restartAtZero();
    void fill(Slot& slot);
    // Makes more converted frames in the stage; false once the source has nothing more.
    bool decode();
    void fail(const Error& error);

    // Set at open, read by every thread.
    double rate_ = 0;
    double sourceRate_ = 0;
    bool converting_ = false;
    std::int64_t sourceBlockFrames_ = 0;
    std::vector<Slot> slots_;
    std::uint64_t aheadSlots_ = 0;  // slots of one pass kept ready: half the ring

    // Owner writes (seeks), audio thread advances by compare-exchange; the worker reads it to learn of
    // seeks. Acquire/release: nothing else is published with it.
    std::atomic<std::uint64_t> cursor_{0};
    std::atomic<std::int64_t> length_{0};
    std::atomic<bool> looping_{false};
    // Slots written (worker) and slots taken (audio thread). The worker fills slot head % size and then
    // releases head; the audio thread acquires head, reads, and releases tail, which the worker acquires
    // before reusing a slot.
    std::atomic<std::uint64_t> head_{0};
    std::atomic<std::uint64_t> tail_{0};

    // Audio thread only.
    std::uint32_t readGeneration_ = 0;
    std::int64_t readOffset_ = 0;  // frames already taken from the front slot

    // Worker thread only.
    AudioFileReader reader_;
    soxr* converter_ = nullptr;
    AudioBuffer in_;
    std::vector<float> inLeft_, inRight_;
    std::int64_t inFrames_ = 0, inDone_ = 0;  // source frames held and already converted
    std::vector<float> stageLeft_, stageRight_;
    std::int64_t stageFrames_ = 0, stageDone_ = 0;
    std::uint32_t passGeneration_ = 0;
    std::uint64_t passFirstSlot_ = 0;  // head when the pass started
    bool passStarted_ = false;
    bool passEnded_ = false;   // the end-of-file slot is written
    bool sourceDone_ = false;  // the source and the converter are empty
    bool failed_ = false;
    std::int64_t emitted_ = 0;  // frame of the next sample the pass emits

    // Worker wake-ups and the failure; the worker holds the lock only while it waits.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool kicked_ = false;
    bool quit_ = false;
    std::optional<Error> failure_;
    std::thread worker_;
};

}  // namespace quorvel
