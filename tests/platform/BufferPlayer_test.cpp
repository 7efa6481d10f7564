#include "platform/BufferPlayer.h"

#include <gtest/gtest.h>

#include <vector>

namespace quorvel {

namespace {

// Two channels of 5 frames: channel c holds 10c + frame.
std::shared_ptr<AudioBuffer> counting() {
    auto b = std::make_shared<AudioBuffer>(*AudioFormat::standard(48000, 2), 5);
    b->setFrameLength(5);
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < 5; ++t) b->channel(c)[t] = static_cast<float>(10 * c + t);
    return b;
}

// Renders `periods` periods of `frames` frames into `channels` channels and joins them.
std::vector<std::vector<float>> play(BufferPlayer& player, int channels, std::int64_t frames, int periods) {
    std::vector<std::vector<float>> out(static_cast<std::size_t>(channels));
    std::vector<std::vector<float>> period(static_cast<std::size_t>(channels),
                                           std::vector<float>(frames, -1.0f));
    std::vector<float*> pointers;
    for (auto& p : period) pointers.push_back(p.data());
    for (int i = 0; i < periods; ++i) {
        player.renderer()(pointers.data(), channels, frames);
        for (int c = 0; c < channels; ++c) out[c].insert(out[c].end(), period[c].begin(), period[c].end());
    }
    return out;
}

}  // namespace

TEST(BufferPlayer, LoopsWithoutAGapAcrossPeriodsThatDoNotDivideTheBuffer) {
    BufferPlayer player;
    player.setVolume(0.5f);
    // Periods of 3 frames wrap mid-period over 5 frames; one of 12 frames holds two loops and more.
    for (std::int64_t frames : {3, 12}) {
        player.schedule(counting());
        const auto out = play(player, 3, frames, 4);
        for (std::size_t t = 0; t < out[0].size(); ++t) {
            EXPECT_EQ(out[0][t], 0.5f * static_cast<float>(t % 5)) << frames << " frame " << t;
            EXPECT_EQ(out[1][t], 0.5f * static_cast<float>(10 + t % 5)) << frames << " frame " << t;
            EXPECT_EQ(out[2][t], 0.0f) << "a channel the buffer lacks is silent";
        }
    }
    player.stop();
    EXPECT_EQ(play(player, 2, 4, 1)[0], std::vector<float>(4, 0.0f));
}

}  // namespace quorvel
