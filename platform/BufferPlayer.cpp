#include "platform/BufferPlayer.h"

#include <algorithm>

namespace quorvel {

void BufferPlayer::schedule(std::shared_ptr<const AudioBuffer> buffer) {
    buffer_ = std::move(buffer);
    position_ = 0;
}

void BufferPlayer::stop() {
    buffer_.reset();
    position_ = 0;
}

AudioRender BufferPlayer::renderer() {
    return [this](float* const* channels, int channelCount, std::int64_t frames) {
        render(channels, channelCount, frames);
    };
}

void BufferPlayer::render(float* const* channels, int channelCount, std::int64_t frames) {
    const AudioBuffer* buffer = buffer_.get();
    const std::int64_t length = buffer ? buffer->frameLength() : 0;
    const int sourceChannels = length > 0 ? buffer->channelCount() : 0;
    const float gain = volume();
    for (int c = 0; c < channelCount; ++c) {
        float* out = channels[c];
        if (c >= sourceChannels) {
            std::fill(out, out + frames, 0.0f);
            continue;
        }
        const float* in = buffer->channel(c);
        std::int64_t from = position_;
        for (std::int64_t done = 0; done < frames;) {
            const std::int64_t n = std::min(frames - done, length - from);
            for (std::int64_t t = 0; t < n; ++t) out[done + t] = in[from + t] * gain;
            done += n;
            from = from + n == length ? 0 : from + n;
        }
    }
    if (length > 0) position_ = (position_ + frames) % length;
}

}  // namespace quorvel
