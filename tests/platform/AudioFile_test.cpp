#include "platform/AudioFile.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <numbers>

#include "TestHome.h"

namespace quorvel {

namespace {

// Runs a shell command (sox makes the foreign-format inputs); fails the test when it fails.
void run(const std::string& command) {
    ASSERT_EQ(std::system((command + " 2>/dev/null").c_str()), 0) << command;
}

AudioBuffer ramp(int channels, std::int64_t frames, float offset) {
    AudioBuffer b(*AudioFormat::standard(44100, channels), frames);
    b.setFrameLength(frames);
    for (int c = 0; c < channels; ++c)
        for (std::int64_t i = 0; i < frames; ++i)
            b.channel(c)[i] = offset + static_cast<float>(c) + 1e-4f * static_cast<float>(i);
    return b;
}

Status writeFile(const std::string& path, const AudioBuffer& buffer) {
    auto writer = AudioFileWriter::create(path, buffer.format());
    if (!writer) return writer.error();
    if (Status s = writer->write(buffer); !s) return s;
    return writer->close();
}

// Reads a whole file, failing the test on error.
AudioBuffer readAll(const std::string& path) {
    auto reader = AudioFileReader::open(path);
    EXPECT_TRUE(reader.ok()) << path << ": " << (reader.ok() ? "" : reader.error().description);
    if (!reader.ok()) return AudioBuffer(*AudioFormat::standard(1, 1), 0);
    AudioBuffer b(reader->processingFormat(), reader->length() + 4096);
    EXPECT_TRUE(reader->read(b).ok());
    return b;
}

}  // namespace

// The formats libsndfile reads, as sox writes them: integers scaled to -1 ... 1, one array per channel.
TEST(AudioFile, ReadsForeignFormats) {
    const std::string dir = TestHome::freshDir("formats");
    // Left 0.5 sine at 1 kHz, right silent, 1 s at 48 kHz.
    const std::string synth = " synth 1 sine 1000 vol 0.5 remix 1 0";
    for (const std::string ext : {"wav", "aiff", "flac"}) {
        const std::string path = dir + "/in16." + ext;
        run("sox -D -n -r 48000 -c 2 -b 16 " + path + synth);
        auto b = readAll(path);
        ASSERT_EQ(b.channelCount(), 2) << ext;
        ASSERT_EQ(b.frameLength(), 48000) << ext;
        double worst = 0;
        for (int n = 0; n < 48000; ++n) {
            worst = std::max(
                worst, std::abs(b.channel(0)[n] - 0.5 * std::sin(2 * std::numbers::pi * 1000 * n / 48000)));
            ASSERT_EQ(b.channel(1)[n], 0.0f);
        }
        EXPECT_LT(worst, 1.5 / 32768) << ext;  // 16-bit quantisation
    }
    // An MP3's stated length is an estimate; the reader's follows the data, also for a cut file.
    run("sox -r 44100 -c 2 -n " + dir + "/whole.mp3 synth 2 sine 1000 vol 0.5");
    run("head -c 10000 " + dir + "/whole.mp3 > " + dir + "/cut.mp3");
    auto reader = AudioFileReader::open(dir + "/cut.mp3");
    ASSERT_TRUE(reader.ok());
    AudioBuffer b(reader->processingFormat(), 1000);
    std::int64_t frames = 0;
    while (reader->read(b).ok() && b.frameLength() > 0) frames += b.frameLength();
    EXPECT_GT(frames, 0);
    EXPECT_EQ(reader->length(), frames);
    EXPECT_EQ(reader->framePosition(), frames);
    // sox cannot write Opus; libsndfile can.
    SF_INFO info{.frames = 0,
                 .samplerate = 48000,
                 .channels = 1,
                 .format = SF_FORMAT_OGG | SF_FORMAT_OPUS,
                 .sections = 0,
                 .seekable = 0};
    SNDFILE* f = sf_open((dir + "/voice.opus").c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<float> tone(48000);
    for (int n = 0; n < 48000; ++n)
        tone[n] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 440 * n / 48000));
    ASSERT_EQ(sf_writef_float(f, tone.data(), 48000), 48000);
    sf_close(f);
    auto opus = readAll(dir + "/voice.opus");
    EXPECT_EQ(opus.format(), (AudioFormat{1, 48000}));
    EXPECT_NEAR(static_cast<double>(opus.frameLength()), 48000, 2400);
}

// Non-finite samples read as 0 and are counted; rates outside 1000 ... 768000 Hz are refused at open.
TEST(AudioFile, ReaderZeroesNonFiniteSamplesAndRefusesAbsurdRates) {
    const std::string dir = TestHome::freshDir("hostile");
    AudioBuffer b = ramp(2, 5000, 0.0f);
    b.channel(0)[10] = NAN;
    b.channel(1)[4999] = -INFINITY;
    b.channel(1)[4500] = INFINITY;
    ASSERT_TRUE(writeFile(dir + "/bad.wav", b));
    auto reader = AudioFileReader::open(dir + "/bad.wav");
    ASSERT_TRUE(reader.ok());
    AudioBuffer in(reader->processingFormat(), 5000);
    ASSERT_TRUE(reader->read(in).ok());
    EXPECT_EQ(in.channel(0)[10], 0.0f);
    EXPECT_EQ(in.channel(0)[11], 1e-4f * 11);
    EXPECT_EQ(in.channel(1)[4500], 0.0f);
    EXPECT_EQ(in.channel(1)[4999], 0.0f);
    EXPECT_EQ(reader->nonFiniteSamples(), 3);

    for (const int rate : {1, 999, 1000, 768000, 768001}) {
        const std::string path = dir + "/rate" + std::to_string(rate) + ".wav";
        AudioBuffer frames(AudioFormat{2, static_cast<double>(rate)}, 10);
        frames.setFrameLength(10);
        ASSERT_TRUE(writeFile(path, frames));
        auto opened = AudioFileReader::open(path);
        const bool supported = rate >= 1000 && rate <= 768000;
        ASSERT_EQ(opened.ok(), supported) << rate;
        if (!supported) {
            EXPECT_EQ(opened.error().domain, AudioFileReader::errorDomain);
            EXPECT_EQ(opened.error().description, "The file's sample rate of " + std::to_string(rate) +
                                                      " Hz is outside the supported 1000 to 768000 Hz");
        }
    }
}

}  // namespace quorvel
