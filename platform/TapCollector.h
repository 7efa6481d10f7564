#pragma once
// Gathers the device's periods into tap blocks of at least AudioEngine::tapBlockFrames frames of every
// input channel, and keeps the input's sample clock: it counts frames itself, and a period flagged as
// following lost input (an overflow) makes the clock jump, so that the next block does not follow the
// previous one and the receiver sees a gap. Frames collected before an overflow are dropped with it, so
// a block is always contiguous.
//
// Threads: prepare() on the owner thread while no audio runs; push() on the audio thread only. push()
// neither allocates nor locks.
#include <cstdint>
#include <vector>

#include "platform/AudioDevices.h"

namespace quorvel {

class TapCollector {
public:
    // Flags of one period.
    struct Period {
        bool overflow = false;        // input was lost just before this period
        bool sampleTimeValid = true;  // false: the blocks holding this period report no valid time
        bool floatSamples = true;     // false: the blocks holding this period carry no sample data
    };

    // Allocates room for channelCount channels and periods of up to maxPeriodFrames (longer periods are
    // still taken, in pieces). Resets the clock to 0.
    void prepare(int channelCount, std::int64_t maxPeriodFrames);

    // Appends one period (channels[c][0...frames-1]) and hands every completed block to tap.
    void push(const float* const* channels, std::int64_t frames, Period flags, const AudioTap& tap);

    int channelCount() const { return channelCount_; }
    // Sample time of the next frame to arrive.
    std::int64_t clock() const { return blockStart_ + filled_; }

private:
    void deliver(const AudioTap& tap);

    int channelCount_ = 0;
    std::int64_t capacity_ = 0;
    std::vector<std::vector<float>> storage_;
    std::vector<float*> pointers_;
    std::int64_t filled_ = 0;
    std::int64_t blockStart_ = 0;
    bool blockTimeValid_ = true;
    bool blockFloat_ = true;
};

}  // namespace quorvel
