#pragma once
// Records a device's first channels (two unless told) on the audio thread into storage made beforehand.
#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "platform/AudioDevices.h"

namespace quorvel {

// The id of the listed device called `name`; 0 when none is.
inline std::uint32_t deviceId(AudioSystem& system, const std::string& name) {
    if (auto list = system.devices())
        for (const auto& d : *list)
            if (d.name == name) return d.id;
    return 0;
}

class LoopbackRecorder {
public:
    LoopbackRecorder(AudioSystem& system, std::uint32_t device, std::int64_t frames, int channels = 2)
        : engine_(system.makeEngine()),
          data_(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(frames))) {
        bound_ = engine_->bindInput(device) == 0;
        engine_->installTap([this](const AudioInputBlock& b) {
            if (next_ >= 0 && b.sampleTime != next_) contiguous_ = false;
            next_ = b.sampleTime + b.frameCount;
            const std::int64_t have = filled_.load(std::memory_order_relaxed);
            const std::int64_t n =
                std::min<std::int64_t>(b.frameCount, static_cast<std::int64_t>(data_[0].size()) - have);
            if (!b.channels || b.channelCount < static_cast<int>(data_.size())) {
                contiguous_ = false;
                return;
            }
            for (std::size_t c = 0; c < data_.size(); ++c)
                std::copy(b.channels[c], b.channels[c] + n, data_[c].begin() + have);
            filled_.store(have + n, std::memory_order_release);
        });
    }
    ~LoopbackRecorder() { engine_->stop(); }

    bool bound() const { return bound_; }
    Status start() { return engine_->start(); }
    bool full() const {
        return filled_.load(std::memory_order_acquire) == static_cast<std::int64_t>(data_[0].size());
    }
    void stop() { engine_->stop(); }
    // After stop(): whether every block followed the one before (no overrun lost input).
    bool contiguous() const { return contiguous_; }
    const std::vector<float>& channel(int c) const { return data_[static_cast<std::size_t>(c)]; }

private:
    std::unique_ptr<AudioEngine> engine_;
    std::vector<std::vector<float>> data_;
    bool bound_ = false;
    std::atomic<std::int64_t> filled_{0};
    std::int64_t next_ = -1;  // audio thread only
    bool contiguous_ = true;  // audio thread, read after stop()
};

}  // namespace quorvel
