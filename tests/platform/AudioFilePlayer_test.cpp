// The file player on the virtual device, whose outputs loop back to inputs a second engine records.
#include "platform/AudioFilePlayer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <numbers>

#include "TestHome.h"
#include "platform/VirtualAudioSystem.h"

namespace quorvel {

namespace {

constexpr std::int64_t block = AudioEngine::tapBlockFrames;

// A float WAV file of `frames` frames whose sample at frame t of channel c is value(c, t).
std::string writeFile(double rate, int channels, std::int64_t frames,
                      const std::function<float(int, std::int64_t)>& value) {
    static int files = 0;
    const std::string path = TestHome::freshDir("player") + "/" + std::to_string(++files) + ".wav";
    AudioBuffer buffer(*AudioFormat::standard(rate, channels), frames);
    for (int c = 0; c < channels; ++c)
        for (std::int64_t t = 0; t < frames; ++t) buffer.channel(c)[t] = value(c, t);
    buffer.setFrameLength(frames);
    auto writer = AudioFileWriter::create(path, buffer.format());
    EXPECT_TRUE(writer && writer->write(buffer) && writer->close());
    return path;
}

// Left 0.5, right −0.25 throughout: levels are easy to read back.
std::string constantFile(std::int64_t frames) {
    return writeFile(48000, 2, frames, [](int c, std::int64_t) { return c == 0 ? 0.5f : -0.25f; });
}

struct Rig {
    Rig() : system({VirtualDevice{.name = "out"}}) {
        system.connect("out", 0, 0, 0);
        system.connect("out", 1, 1, 0);
        recorder = system.makeEngine();
        recorder->installTap([this](const AudioInputBlock& b) {
            for (int c = 0; c < 2; ++c)
                recorded[c].insert(recorded[c].end(), b.channels[c], b.channels[c] + b.frameCount);
        });
        EXPECT_TRUE(recorder->start());
    }
    std::unique_ptr<AudioFilePlayer> open(const std::string& path) {
        auto player = AudioFilePlayer::open(path, system);
        EXPECT_TRUE(player) << player.error().description;
        return player ? std::move(*player) : nullptr;
    }
    void pump(std::int64_t frames) { system.pump(frames); }

    VirtualAudioSystem system;
    std::unique_ptr<AudioEngine> recorder;
    std::vector<float> recorded[2];
};

}  // namespace

TEST(AudioFilePlayer, PlaysTheFileOnceOrLoopsWithoutAGap) {
    Rig rig;
    auto player = rig.open(constantFile(6000));
    ASSERT_TRUE(player);
    EXPECT_DOUBLE_EQ(player->duration(), 6000.0 / 48000);
    EXPECT_FALSE(player->isPlaying());
    ASSERT_TRUE(player->play());
    EXPECT_TRUE(player->isPlaying());
    rig.pump(2 * block);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_DOUBLE_EQ(player->currentTime(), player->duration());
    // Full volume and centre pan leave the file's samples as they are; nothing follows the end.
    EXPECT_EQ(rig.recorded[0][0], 0.5f);
    EXPECT_EQ(rig.recorded[1][5999], -0.25f);
    EXPECT_EQ(rig.recorded[0][6000], 0.0f);
    EXPECT_EQ(rig.recorded[1][8191], 0.0f);
    // Playing again after the end starts over.
    ASSERT_TRUE(player->play());
    rig.pump(block);
    EXPECT_TRUE(player->isPlaying());
    EXPECT_DOUBLE_EQ(player->currentTime(), 4096.0 / 48000);
    player->stop();

    auto ramp = rig.open(
        writeFile(48000, 2, 1000, [](int, std::int64_t t) { return static_cast<float>(t) / 1000.0f; }));
    ASSERT_TRUE(ramp);
    EXPECT_FALSE(ramp->looping());
    ramp->setLooping(true);
    EXPECT_TRUE(ramp->looping());
    ASSERT_TRUE(ramp->play());
    rig.recorded[0].clear();
    rig.pump(3 * block);
    EXPECT_TRUE(ramp->isPlaying());
    for (std::int64_t t : {0, 999, 1000, 1001, 5432, 12287})
        EXPECT_FLOAT_EQ(rig.recorded[0][t], static_cast<float>(t % 1000) / 1000.0f) << t;
    EXPECT_DOUBLE_EQ(ramp->currentTime(), (3 * block % 1000) / 48000.0);
}

// Pause holds the position on silence; a position clamps into the file, NaN to its start.
TEST(AudioFilePlayer, PauseHoldsThePositionAndSeekClamps) {
    Rig rig;
    auto player = rig.open(constantFile(48000));
    ASSERT_TRUE(player);
    ASSERT_TRUE(player->play());
    rig.pump(block);
    player->pause();
    rig.pump(block);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_DOUBLE_EQ(player->currentTime(), 4096.0 / 48000);
    EXPECT_EQ(rig.recorded[0][block + 10], 0.0f);
    for (const auto& [seconds, clamped] :
         {std::pair{7.0, 1.0}, {-1.0, 0.0}, {0.5, 0.5}, {NAN, 0.0}, {INFINITY, 0.0}}) {
        player->setCurrentTime(seconds);
        EXPECT_DOUBLE_EQ(player->currentTime(), clamped) << seconds;
    }
}

// Pan and volume clamp to their ranges, and NaN counts as centre and as silence.
TEST(AudioFilePlayer, PanSilencesOneSideAndVolumeClampsToUnity) {
    struct Case {
        float pan, volume, left, right;
    };
    for (const Case c :
         {Case{-1, 1, 0.5f, 0}, Case{1, 1, 0, -0.25f}, Case{0, 1, 0.5f, -0.25f}, Case{0.5f, 1, 0.25f, -0.25f},
          Case{-0.5f, 1, 0.5f, -0.125f}, Case{-3, 1, 0.5f, 0}, Case{NAN, 1, 0.5f, -0.25f},
          Case{0, 2, 0.5f, -0.25f}, Case{0, -1, 0, 0}, Case{0, NAN, 0, 0}, Case{0, 0.5f, 0.25f, -0.125f}}) {
        Rig rig;
        auto player = rig.open(constantFile(48000));
        ASSERT_TRUE(player);
        player->setPan(c.pan);
        player->setVolume(c.volume);
        EXPECT_EQ(player->pan(), std::isnan(c.pan) ? 0 : std::clamp(c.pan, -1.0f, 1.0f));
        ASSERT_TRUE(player->play());
        rig.pump(block);
        EXPECT_FLOAT_EQ(rig.recorded[0][100], c.left) << c.pan << " " << c.volume;
        EXPECT_FLOAT_EQ(rig.recorded[1][100], c.right) << c.pan << " " << c.volume;
    }
}

TEST(AudioFilePlayer, VolumeSetBeforePlayAppliesFromTheFirstSampleAndLaterChangesFadeLinearly) {
    Rig rig;
    auto player = rig.open(constantFile(48000));
    ASSERT_TRUE(player);
    player->setVolume(0.5f, 0.03);
    player->setVolume(0.1f, 0);  // the last value before the first sample is what sounds
    ASSERT_TRUE(player->play());
    rig.pump(block);
    EXPECT_FLOAT_EQ(rig.recorded[0][0], 0.05f);
    EXPECT_FLOAT_EQ(rig.recorded[0][block - 1], 0.05f);

    // 0.1 → 0.5 over 10 ms = 480 frames: a straight line, then the target held.
    player->setVolume(0.5f, 0.01);
    EXPECT_FLOAT_EQ(player->volume(), 0.5f);
    rig.pump(block);
    const float* l = rig.recorded[0].data() + block;
    EXPECT_NEAR(l[0], 0.5f * (0.1f + 0.4f / 480), 1e-6);
    EXPECT_NEAR(l[239], 0.5f * 0.3f, 1e-5);
    EXPECT_FLOAT_EQ(l[479], 0.25f);
    EXPECT_FLOAT_EQ(l[3000], 0.25f);
    for (int t = 1; t < 480; ++t) ASSERT_GT(l[t], l[t - 1]) << t;
}

// Past the two-second read-ahead every frame plays exactly, seeks included; other rates loop exactly.
TEST(AudioFilePlayer, StreamsEveryFrameAndSeeksToTheExactFrame) {
    Rig rig;
    auto value = [](int c, std::int64_t t) { return static_cast<float>(t) * 1e-6f + static_cast<float>(c); };
    const std::int64_t frames = 5 * 48000 + 123;
    auto player = rig.open(writeFile(48000, 2, frames, value));
    ASSERT_TRUE(player);
    ASSERT_TRUE(player->play());
    rig.pump((frames / block + 2) * block);
    EXPECT_FALSE(player->isPlaying());
    for (std::int64_t t = 0; t < frames; ++t) {
        ASSERT_EQ(rig.recorded[0][t], value(0, t)) << t;
        ASSERT_EQ(rig.recorded[1][t], value(1, t)) << t;
    }

    rig.recorded[0].clear();
    player->setCurrentTime(1);
    ASSERT_TRUE(player->play());
    rig.pump(block);
    player->setCurrentTime(4);
    rig.pump(block);
    player->pause();
    player->setCurrentTime(2);
    rig.pump(block);
    ASSERT_TRUE(player->play());
    rig.pump(block);
    ASSERT_EQ(rig.recorded[0].size(), 4u * block);
    EXPECT_EQ(rig.recorded[0][0], value(0, 48000));
    EXPECT_EQ(rig.recorded[0][block], value(0, 4 * 48000));
    EXPECT_EQ(rig.recorded[0][2 * block], 0.0f);
    EXPECT_EQ(rig.recorded[0][3 * block], value(0, 2 * 48000));
    EXPECT_EQ(rig.recorded[0][4 * block - 1], value(0, 2 * 48000 + block - 1));
    player->stop();

    // One second at 44.1 kHz is 48000 frames here, loop after loop.
    auto converted = rig.open(writeFile(44100, 1, 44100, [](int, std::int64_t t) {
        return static_cast<float>(0.5 *
                                  std::sin(2 * std::numbers::pi * 441 * static_cast<double>(t) / 44100));
    }));
    ASSERT_TRUE(converted);
    EXPECT_DOUBLE_EQ(converted->duration(), 1);
    converted->setLooping(true);
    ASSERT_TRUE(converted->play());
    rig.pump(25 * block);
    EXPECT_TRUE(converted->isPlaying());
    EXPECT_DOUBLE_EQ(converted->currentTime(), (25 * block % 48000) / 48000.0);
    const std::vector<float> left(rig.recorded[0].end() - 100, rig.recorded[0].end());
    EXPECT_EQ(std::vector<float>(rig.recorded[1].end() - 100, rig.recorded[1].end()), left);
    EXPECT_GT(*std::max_element(left.begin(), left.end()), 0.4f);
}

// A damaged file plays what it holds, then says why; an MP3 ends where its data ends.
TEST(AudioFilePlayer, DamagedFilesStopWithTheReasonAndEstimatedLengthsBecomeExact) {
    const std::string dir = TestHome::freshDir("foreign");
    ASSERT_EQ(std::system(("sox -D -r 48000 -c 2 -n -b 16 " + dir +
                           "/whole.flac synth 2 whitenoise vol 0.5 && head -c 200000 " + dir +
                           "/whole.flac > " + dir + "/cut.flac && sox -D -r 48000 -c 2 -n " + dir +
                           "/x.mp3 synth 3.3 pinknoise vol 0.3")
                              .c_str()),
              0);
    Rig rig;
    auto cut = rig.open(dir + "/cut.flac");
    ASSERT_TRUE(cut);
    EXPECT_DOUBLE_EQ(cut->duration(), 2);
    ASSERT_TRUE(cut->play());
    rig.pump(3 * 48000);
    EXPECT_FALSE(cut->isPlaying());
    EXPECT_LT(cut->currentTime(), 2);
    ASSERT_TRUE(cut->failure());
    EXPECT_EQ(cut->failure()->domain, "sndfile");

    auto mp3 = rig.open(dir + "/x.mp3");
    ASSERT_TRUE(mp3);
    ASSERT_TRUE(mp3->play());
    rig.pump(5 * 48000);
    EXPECT_FALSE(mp3->isPlaying());
    EXPECT_FALSE(mp3->failure());
    auto reader = AudioFileReader::open(dir + "/x.mp3");
    ASSERT_TRUE(reader);
    AudioBuffer all(reader->processingFormat(), 5 * 48000);
    ASSERT_TRUE(reader->read(all));
    EXPECT_DOUBLE_EQ(mp3->duration(), static_cast<double>(all.frameLength()) / 48000);
    EXPECT_DOUBLE_EQ(mp3->currentTime(), mp3->duration());
}

}  // namespace quorvel
