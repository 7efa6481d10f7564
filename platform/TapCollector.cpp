#include "platform/TapCollector.h"

#include <algorithm>
#include <cstring>

namespace quorvel {

void TapCollector::prepare(int channelCount, std::int64_t maxPeriodFrames) {
    channelCount_ = std::max(channelCount, 0);
    capacity_ = AudioEngine::tapBlockFrames + std::max<std::int64_t>(maxPeriodFrames, 1);
    storage_.assign(static_cast<std::size_t>(channelCount_),
                    std::vector<float>(static_cast<std::size_t>(capacity_)));
    pointers_.resize(storage_.size());
    for (std::size_t c = 0; c < storage_.size(); ++c) pointers_[c] = storage_[c].data();
    filled_ = 0;
    blockStart_ = 0;
    blockTimeValid_ = true;
    blockFloat_ = true;
}

void TapCollector::push(const float* const* channels, std::int64_t frames, Period flags,
                        const AudioTap& tap) {
    if (frames <= 0 || capacity_ == 0) return;
    if (flags.overflow) {
        // The lost stretch is at least as long as a period; the partial block before it goes too.
        blockStart_ += filled_ + frames;
        filled_ = 0;
        blockTimeValid_ = true;
        blockFloat_ = true;
    }
    std::int64_t offset = 0;
    while (offset < frames) {
        // Each piece of the period carries the period's flags into the block it lands in.
        blockTimeValid_ = blockTimeValid_ && flags.sampleTimeValid;
        blockFloat_ = blockFloat_ && flags.floatSamples && channels != nullptr;
        const std::int64_t n = std::min(frames - offset, capacity_ - filled_);
        if (blockFloat_) {
            for (int c = 0; c < channelCount_; ++c)
                std::memcpy(pointers_[c] + filled_, channels[c] + offset,
                            static_cast<std::size_t>(n) * sizeof(float));
        }
        filled_ += n;
        offset += n;
        if (filled_ >= AudioEngine::tapBlockFrames) deliver(tap);
    }
}

void TapCollector::deliver(const AudioTap& tap) {
    AudioInputBlock block;
    block.channels = blockFloat_ ? pointers_.data() : nullptr;
    block.channelCount = channelCount_;
    block.frameCount = filled_;
    block.sampleTime = blockStart_;
    block.sampleTimeValid = blockTimeValid_;
    if (tap) tap(block);
    blockStart_ += filled_;
    filled_ = 0;
    blockTimeValid_ = true;
    blockFloat_ = true;
}

}  // namespace quorvel
