#include "dsp/FileProcessor.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>

#include "SoxOracle.h"
#include "TestHome.h"
#include "dsp/FilterPair.h"
#include "dsp/QuorvelError.h"
#include "dsp/RandomSource.h"
#include "platform/TempFiles.h"

namespace quorvel {

namespace {

// Distinct, uncorrelated channels at most `peak` (sox clips above full scale in its filters).
Channels noise(int channels, std::size_t frames, std::uint64_t seed, double peak = 0.5) {
    RandomSource random(seed);
    Channels out(static_cast<std::size_t>(channels), std::vector<float>(frames));
    for (auto& ch : out)
        for (auto& v : ch) v = static_cast<float>(peak * random.nextSigned());
    return out;
}

Channels sine(int channels, std::size_t frames, double amplitude) {
    Channels out(static_cast<std::size_t>(channels), std::vector<float>(frames));
    for (auto& ch : out)
        for (std::size_t n = 0; n < frames; ++n)
            ch[n] = static_cast<float>(
                amplitude * std::sin(2 * std::numbers::pi * 1000 * static_cast<double>(n) / 48000));
    return out;
}

std::string process(const std::string& input, const FileProcessSettings& settings) {
    auto result = FileProcessor::render(input, settings);
    EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().description);
    return result.ok() ? *result : std::string();
}

Channels processed(const std::string& input, const FileProcessSettings& settings) {
    const std::string path = process(input, settings);
    const Channels out = readChannels(path);
    TempFiles::removeQuietly(path);
    return out;
}

// Pooled over every channel.
double rmsDB(const Channels& channels) {
    double sum = 0, count = 0;
    for (const auto& ch : channels)
        for (float v : ch) sum += static_cast<double>(v) * v, ++count;
    return 10 * std::log10(sum / count);
}

}  // namespace

// Every mode on stereo and mono inputs: exact samples to the last frame, in a two-channel CAF.
TEST(FileProcessor, ChannelModesOnStereoAndMonoInputs) {
    // Each output side as a mix {of left, of right} of the input.
    using Mix = std::array<double, 4>;
    const std::pair<StereoMode, Mix> modes[] = {
        {StereoMode::stereo, {1, 0, 0, 1}}, {StereoMode::mono, {0.5, 0.5, 0.5, 0.5}},
        {StereoMode::left, {1, 0, 0, 0}},   {StereoMode::right, {0, 0, 0, 1}},
        {StereoMode::swap, {0, 1, 1, 0}},   {StereoMode::invertRight, {1, 0, 0, -1}},
    };
    const std::string input = TestHome::freshDir("modes") + "/in.wav";
    for (int inputChannels : {2, 1}) {
        const Channels in = noise(inputChannels, 2 * 8192 + 1, 5);
        writeChannels(input, 44100, in);
        for (const auto& [mode, m] : modes) {
            const std::string label = std::string(rawValue(mode)) + " from " + std::to_string(inputChannels);
            EXPECT_EQ(stereoModeFromRawValue(rawValue(mode)), mode);
            const std::string path = process(input, {.mode = mode});
            const std::string prefix = TempFiles::directory() + "/reference-";
            EXPECT_TRUE(path.starts_with(prefix) && path.ends_with(".caf") &&
                        path.size() == prefix.size() + 40)
                << path;
            double rate = 0;
            const Channels out = readChannels(path, &rate);
            TempFiles::removeQuietly(path);
            EXPECT_EQ(rate, 44100);
            ASSERT_EQ(out.size(), 2u) << label;
            ASSERT_EQ(out[0].size(), in[0].size()) << label;
            int wrong = 0;
            for (std::size_t n = 0; n < in[0].size(); ++n) {
                const double l = in[0][n], r = in.back()[n];
                wrong += out[0][n] != static_cast<float>(m[0] * l + m[1] * r) ||
                         out[1][n] != static_cast<float>(m[2] * l + m[3] * r);
            }
            EXPECT_EQ(wrong, 0) << label;
        }
    }
    EXPECT_FALSE(stereoModeFromRawValue("stereo"));
}

// RMS matching: target capped at -6 and floored at -40 dBFS, peaks held at 0.98, silence kept.
TEST(FileProcessor, RmsMatchingHoldsTheTargetAndThePeakCeiling) {
    const std::string dir = TestHome::freshDir("rms");
    const std::string quietSine = dir + "/sine.wav";
    writeChannels(quietSine, 48000, sine(2, 48000, 0.1));
    for (const auto& [target, expected] :
         {std::pair{-3.0, -6.0}, {-6.5, -6.5}, {-39.5, -39.5}, {-60.0, -40.0}})
        EXPECT_NEAR(rmsDB(processed(quietSine, {.matchRMS = true, .targetDB = target})), expected, 0.01)
            << target;
    EXPECT_NEAR(rmsDB({processed(quietSine, {.mode = StereoMode::left, .matchRMS = true})[0]}),
                -20 + 10 * std::log10(2.0), 0.01);
    // A 0.9 spike would peak at 1.56 at -6 dBFS RMS, so the ceiling sets the gain.
    Channels spiky = noise(2, 3 * 8192, 9);
    spiky[0][8192] = 0.9f;
    writeChannels(dir + "/spiky.wav", 48000, spiky);
    const Channels capped = processed(dir + "/spiky.wav", {.matchRMS = true, .targetDB = -3});
    EXPECT_NEAR(capped[0][8192], 0.98f, 1e-6);
    EXPECT_LT(rmsDB(capped), -6.5);
    for (const Channels& still : {Channels(2, std::vector<float>(4800, 0.0f)), Channels(2)}) {
        writeChannels(dir + "/still.wav", 48000, still);
        for (bool match : {false, true}) EXPECT_EQ(processed(dir + "/still.wav", {.matchRMS = match}), still);
    }
}

// 16-bit WAV, FLAC and MP3 inputs; an MP3's stated length is an estimate, all its frames are processed.
TEST(FileProcessor, ReadsIntegerAndCompressedInputs) {
    const std::string dir = TestHome::freshDir("formats");
    for (const std::string name : {"in.wav", "in.flac", "in.mp3", "mono.flac", "estimate.mp3"}) {
        const std::string input = dir + "/" + name;
        const std::string channels = name == "mono.flac" ? "1" : "2";
        const std::string bits = name.ends_with(".mp3") ? "" : " -b 16";
        const std::string seconds = name == "estimate.mp3" ? "3.3" : "2";
        ASSERT_TRUE(runSox("-D -r 44100 -c " + channels + " -n" + bits + " " + input + " synth " + seconds +
                           " pinknoise vol 0.3"));
        const Channels decoded = readChannels(input);
        const Channels out = processed(input, {});
        ASSERT_EQ(out.size(), 2u) << name;
        if (name == "estimate.mp3") {
            EXPECT_EQ(out[0].size(), 147456u);
        }
        EXPECT_EQ(out[0], decoded[0]) << name;
        EXPECT_EQ(out[1], decoded.back()) << name;
        // Both passes decode the same data.
        EXPECT_NEAR(rmsDB(processed(input, {.matchRMS = true, .targetDB = -30})), -30, 0.01) << name;
    }
}

// Against sox's one-pole `highpass -1`/`lowpass -1`, scaled by 2a/(1+a) for sox's Nyquist gain.
TEST(FileProcessor, FiltersMatchSoxOnePoleFilters) {
    const std::string dir = TestHome::freshDir("filters");
    const std::string input = dir + "/noise.wav";
    const Channels in = noise(2, 48000, 21, 0.25);  // sox's high-pass output stays well inside full scale
    writeChannels(input, 48000, in);
    const FilterCorners k = FilterCorners::derive(100, 5000, 48000);
    const double hpScale = 2 * k.highA / (1 + k.highA);
    ASSERT_TRUE(
        runSox(input + " -e floating-point -b 32 " + dir + "/sox.wav highpass -1 100 lowpass -1 5000"));
    const Channels sox = readChannels(dir + "/sox.wav"),
                   ours = processed(input, {.filtered = true, .hp = 100, .lp = 5000});
    ASSERT_EQ(ours.size(), 2u);
    for (int c = 0; c < 2; ++c) {
        double worst = 0;
        for (std::size_t n = 0; n < ours[c].size(); ++n)
            worst = std::max(worst, std::abs(ours[c][n] - hpScale * sox[c][n]));
        EXPECT_LT(worst, 1e-6) << c;
    }
    for (const auto& [hp, lp, highHz, lowHz] : {std::tuple{1.0, 5.0, 10.0, 11.0},
                                                {5000.0, 5000.0, 3200.0, 3600.0},
                                                {30.0, 29.0, 30.0, 31.0},
                                                {30.0, 3000.0, 30.0, 3000.0}}) {
        const FilterCorners corners = FilterCorners::derive(hp, lp, 8000);
        EXPECT_EQ(corners.highHz, highHz) << hp;
        EXPECT_EQ(corners.lowHz, lowHz) << lp;
    }
}

// Damaged inputs (Ogg cut short, FLAC failing part-way) fail with the reason and leave nothing.
TEST(FileProcessor, DamagedInputsFailAndLeaveNoOutput) {
    const std::string dir = TestHome::freshDir("damaged");
    ASSERT_TRUE(runSox("-r 48000 -c 2 -n " + dir + "/whole.ogg synth 10 whitenoise vol 0.5"));
    ASSERT_TRUE(runSox("-r 48000 -c 2 -n -b 16 " + dir + "/whole.flac synth 2 whitenoise vol 0.5"));
    ASSERT_EQ(std::system(("head -c 60000 " + dir + "/whole.ogg > " + dir + "/cut.ogg && head -c 200000 " +
                           dir + "/whole.flac > " + dir + "/cut.flac")
                              .c_str()),
              0);
    for (const std::string name : {"cut.ogg", "cut.flac"}) {
        for (bool match : {false, true}) {
            auto result = FileProcessor::render(dir + "/" + name, {.matchRMS = match});
            ASSERT_FALSE(result.ok()) << name;
            EXPECT_EQ(result.error().domain, "sndfile") << name;
            EXPECT_FALSE(result.error().description.empty());
            EXPECT_EQ(fileCount(TempFiles::directory()), 0) << name << (match ? " matched" : "");
        }
    }
}

TEST(FileProcessor, CancelStopsBetweenBlocksAndLeavesNoOutput) {
    const std::string input = TestHome::freshDir("cancel") + "/long.wav";
    writeChannels(input, 48000, noise(2, 10 * 8192, 5));
    for (bool match : {false, true}) {
        for (int at : {1, 4, 13}) {  // before anything, in the measuring pass, in the writing pass
            int asked = 0;
            auto result = FileProcessor::render(input, {.matchRMS = match}, [&] { return ++asked == at; });
            if (!match && at == 13) {  // ten blocks and the end: never asked a 13th time
                EXPECT_TRUE(result.ok());
                TempFiles::removeQuietly(result.ok() ? *result : "");
                continue;
            }
            ASSERT_FALSE(result.ok()) << match << " " << at;
            EXPECT_EQ(result.error().code, FileProcessor::cancelledCode);
            EXPECT_EQ(asked, at);
            EXPECT_EQ(fileCount(TempFiles::directory()), 0);
        }
    }
}

// Non-finite samples read as 0 before any gain or filter; an absurd rate is refused up front.
TEST(FileProcessor, NonFiniteSamplesReadAsZeroAndAbsurdRatesAreRefused) {
    const std::string dir = TestHome::freshDir("hostile");
    Channels in = sine(2, 48000, 0.5);
    in[0][100] = NAN;
    in[1][200] = INFINITY;
    in[1][300] = -INFINITY;
    writeChannels(dir + "/bad.wav", 48000, in);
    in[0][100] = in[1][200] = in[1][300] = 0;
    EXPECT_EQ(processed(dir + "/bad.wav", {}), in);
    const Channels out = processed(dir + "/bad.wav", {.matchRMS = true, .targetDB = -20, .filtered = true});
    ASSERT_EQ(out.size(), 2u);
    for (const auto& ch : out)
        for (float v : ch) ASSERT_TRUE(std::isfinite(v));

    writeChannels(dir + "/one-hertz.wav", 1, sine(2, 20, 0.5));
    auto refused = FileProcessor::render(dir + "/one-hertz.wav", {});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().description,
              "The file's sample rate of 1 Hz is outside the supported 1000 to 768000 Hz");
    EXPECT_EQ(fileCount(TempFiles::directory()), 0);
}

}  // namespace quorvel
