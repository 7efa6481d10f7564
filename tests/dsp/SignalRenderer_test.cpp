#include "dsp/SignalRenderer.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <numbers>
#include <set>

#include "SoxOracle.h"
#include "TestHome.h"
#include "dsp/MeasurementDSP.h"
#include "dsp/QuorvelError.h"
#include "dsp/SignalPreset.h"
#include "platform/TempFiles.h"

namespace quorvel {

namespace {
constexpr double pi = std::numbers::pi;

Channels render(const SignalSettings& settings, double rate, std::uint64_t seed = 1,
                std::string* pathOut = nullptr) {
    RandomSource random(seed);
    auto path = SignalRenderer::make(settings, rate, random);
    EXPECT_TRUE(path.ok()) << (path.ok() ? "" : path.error().description);
    if (!path.ok()) return {};
    if (pathOut) *pathOut = *path;
    return readChannels(*path);
}

// The renderer's sine advances the phase before taking the sine, so frame n is sox's frame n + 1,
// then faded over 10 ms at both ends and scaled to a 0.98 peak.
void expectSoxSine(const std::string& rendered, double hz, double rate, const std::string& label) {
    const auto ours = readChannels(rendered);
    ASSERT_EQ(ours.size(), 2u);
    const auto frames = static_cast<std::int64_t>(ours[0].size());
    const std::string soxPath = TestHome::freshDir("sox") + "/sine.wav";
    ASSERT_TRUE(runSox("-r " + std::to_string(static_cast<int>(rate)) + " -c 1 -n -e floating-point -b 32 " +
                       soxPath + " synth " + std::to_string(frames + 1) + "s sine " + std::to_string(hz)));
    const auto sox = readChannels(soxPath);
    ASSERT_EQ(static_cast<std::int64_t>(sox.at(0).size()), frames + 1);
    std::vector<double> expected(static_cast<std::size_t>(frames));
    double peak = 0;
    for (std::int64_t n = 0; n < frames; ++n) {
        const double fade =
            std::clamp(static_cast<double>(std::min(n, frames - 1 - n)) / (0.01 * rate), 0.0, 1.0);
        expected[n] = fade * sox[0][n + 1];
        peak = std::max(peak, std::abs(expected[n]));
    }
    const auto gain = static_cast<float>(0.98 / peak);
    double worst = 0;
    for (std::int64_t n = 0; n < frames; ++n)
        worst = std::max(worst,
                         static_cast<double>(std::abs(static_cast<float>(expected[n]) * gain - ours[0][n])));
    EXPECT_LT(worst, 1e-6) << label;
    if (worst >= 1e-6) keepForInspection(rendered, label + ".wav");
}

}  // namespace

TEST(SignalKind, LabelsMapBothWaysExactly) {
    const char* labels[] = {"Dual tone",   "Sync beep", "Sine",         "Pink noise", "White noise",
                            "Brown noise", "Log sweep", "Linear sweep", "Pulsed tone"};
    for (std::size_t i = 0; i < allSignalKinds.size(); ++i) {
        EXPECT_EQ(rawValue(allSignalKinds[i]), labels[i]);
        EXPECT_EQ(signalKindFromRawValue(labels[i]), allSignalKinds[i]);
    }
    for (const char* other : {"pink noise", "Pink", "Pink noise ", ""})
        EXPECT_FALSE(signalKindFromRawValue(other));
}

TEST(SignalPreset, ElevenDistinctPresetsThatRenderAsTheyStand) {
    const auto& presets = SignalPreset::seeded();
    ASSERT_EQ(presets.size(), 11u);
    std::set<std::string> ids;
    for (const auto& p : presets) ids.insert(p.id);
    EXPECT_EQ(ids.size(), 11u);
    EXPECT_EQ(presets[1].id, "Speech-band pink \u00B7 150 Hz\u20138 kHz");
    EXPECT_EQ(presets[2].settings, (SignalSettings{.hp = 35, .lp = 100, .filtered = true}));
    EXPECT_EQ(presets[4].settings, (SignalSettings{.kind = SignalKind::sine, .frequency = 63}));
    EXPECT_EQ(presets[10].id, "Dual tone \u00B7 1 kHz / 1.2 kHz");
    for (const auto& p : presets) {
        RandomSource random(7);
        auto path = SignalRenderer::make(p.settings, 48000, random);
        ASSERT_TRUE(path.ok()) << p.id;
        TempFiles::removeQuietly(*path);
    }
}

TEST(SignalRenderer, RefusesBadValuesBeforeBadRatesAndCreatesNothing) {
    const std::string values = "Enter finite signal values and a low-pass frequency above high-pass.";
    struct Case {
        SignalSettings settings;
        double rate;
        long code;
    };
    const Case cases[] = {
        {{.seconds = NAN}, 1000, 10},  // both rules broken: the values win
        {{.kind = SignalKind::sine, .frequency2 = NAN}, 48000, 10},
        {{.hp = INFINITY}, 48000, 10},
        {{.seconds = 0}, 48000, 10},
        {{.seconds = -1}, 48000, 10},
        {{.hp = 500, .lp = 500, .filtered = true}, 48000, 10},
        {{}, 7999, 12},
        {{}, 192001, 12},
        {{}, NAN, 12},
    };
    for (const auto& c : cases) {
        auto result = SignalRenderer::make(c.settings, c.rate);
        ASSERT_FALSE(result.ok()) << c.code << " at " << c.rate;
        EXPECT_EQ(result.error(),
                  QuorvelError::make(c.code, c.code == 10 ? values : "Unsupported sample rate"));
    }
    EXPECT_EQ(fileCount(TempFiles::directory()), 0);
}

TEST(SignalRenderer, FileNameFormatAndLength) {
    struct Case {
        SignalSettings settings;
        double rate;
        std::size_t frames;
    };
    const Case cases[] = {
        {{}, 48000, 480000},
        {{.seconds = 0.2}, 48000, 48000},
        {{.seconds = 600}, 8000, 480000},
        {{.seconds = 1}, 192000, 192000},
        {{.hp = 500, .lp = 100}, 44100, 441000},  // lp below hp is fine when unfiltered
    };
    for (const auto& c : cases) {
        RandomSource random(3);
        auto path = SignalRenderer::make(c.settings, c.rate, random);
        ASSERT_TRUE(path.ok()) << path.error().description;
        const std::string prefix = TempFiles::directory() + "/signal-";
        ASSERT_EQ(path->rfind(prefix, 0), 0u);
        EXPECT_EQ(path->size(), prefix.size() + 36 + 4);
        EXPECT_EQ(path->substr(path->size() - 4), ".wav");
        SF_INFO info{};
        SNDFILE* f = sf_open(path->c_str(), SFM_READ, &info);
        ASSERT_NE(f, nullptr);
        sf_close(f);
        EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        EXPECT_EQ(info.channels, 2);
        EXPECT_EQ(info.samplerate, static_cast<int>(c.rate));
        EXPECT_EQ(static_cast<std::size_t>(info.frames), c.frames);
        TempFiles::removeQuietly(*path);
    }
}

// Every kind: silent first and last frame, a 0.98 peak, identical channels; the gated tones are
// silent outside their gates.
TEST(SignalRenderer, EveryKindFadesPeaksAndGates) {
    for (bool filtered : {false, true}) {
        for (SignalKind kind : allSignalKinds) {
            const std::string label = std::string(rawValue(kind)) + (filtered ? " filtered" : "");
            const auto out =
                render({.kind = kind, .seconds = 2, .hp = 100, .lp = 5000, .filtered = filtered}, 48000);
            ASSERT_EQ(out.size(), 2u) << label;
            ASSERT_EQ(out[0].size(), 96000u) << label;
            EXPECT_EQ(out[0].front(), 0.0f) << label;
            EXPECT_EQ(out[0].back(), 0.0f) << label;
            float peak = 0;
            for (float v : out[0]) peak = std::max(peak, std::abs(v));
            EXPECT_NEAR(peak, 0.98f, 1e-6) << label;
            EXPECT_EQ(std::memcmp(out[0].data(), out[1].data(), out[0].size() * sizeof(float)), 0) << label;
            if (filtered) continue;  // the filters ring on past the gates
            const int gateEnd = kind == SignalKind::sync ? 3840 : kind == SignalKind::pulse ? 24000 : 48000;
            int loud = 0;
            for (std::size_t n = 0; n < out[0].size(); ++n)
                if (static_cast<int>(n % 48000) >= gateEnd && out[0][n] != 0.0f) ++loud;
            EXPECT_EQ(loud, 0) << label;
        }
    }
}

TEST(SignalRenderer, NoiseIsFreshEachTimeTonesRepeat) {
    auto a = SignalRenderer::make({.kind = SignalKind::pink, .seconds = 1});
    auto b = SignalRenderer::make({.kind = SignalKind::pink, .seconds = 1});
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_NE(readChannels(*a), readChannels(*b));
    auto c = SignalRenderer::make({.kind = SignalKind::logSweep, .seconds = 1});
    auto d = SignalRenderer::make({.kind = SignalKind::logSweep, .seconds = 1});
    ASSERT_TRUE(c.ok() && d.ok());
    EXPECT_EQ(readChannels(*c), readChannels(*d));
}

// Tones against sox's sine, which also shows the frequency clamps: tones never below 20 Hz nor above
// min(0.45 × rate, 20 kHz); a sweep whose ends meet is a steady tone at the clamped start.
TEST(SignalRenderer, TonesMatchSoxSinesAfterClamping) {
    struct Case {
        SignalSettings settings;
        double rate;
        double hz;
        const char* label;
    };
    const Case cases[] = {
        {{.kind = SignalKind::sine, .seconds = 1}, 48000, 1000, "sine-1k"},
        {{.kind = SignalKind::sine, .frequency = 5, .seconds = 1}, 48000, 20, "sine-5-to-20"},
        {{.kind = SignalKind::sine, .frequency = 5000, .seconds = 1}, 8000, 3600, "sine-8k-rate"},
        {{.kind = SignalKind::logSweep, .start = 20000, .end = 20000, .seconds = 1},
         44100,
         19845,
         "log-sweep-end"},
        {{.kind = SignalKind::linearSweep, .start = 440, .end = 440, .seconds = 1},
         48000,
         440,
         "steady-sweep"},
        {{.kind = SignalKind::dual, .frequency2 = 1500, .balance = 1.5, .seconds = 1},
         48000,
         1500,
         "dual-balance"},
    };
    for (const auto& c : cases) {
        std::string path;
        render(c.settings, c.rate, 1, &path);
        if (!path.empty()) expectSoxSine(path, c.hz, c.rate, c.label);
    }
}

// 60 s of seeded pink noise has equal power in every third-octave band (-3 dB/octave density),
// within 0.5 dB, from 50 Hz to 16 kHz. Welch average of 65536-point Hann segments; bins straddling
// a band edge count by the share of their width inside the band.
TEST(SignalRenderer, PinkNoiseFallsThreeDecibelsPerOctave) {
    const double rate = 48000;
    const auto out = render({.kind = SignalKind::pink, .seconds = 60}, rate, 12345);
    ASSERT_EQ(out.size(), 2u);
    const std::size_t size = 65536;
    std::vector<double> power(size / 2 + 1, 0.0), window(size);
    for (std::size_t i = 0; i < size; ++i)
        window[i] = 0.5 - 0.5 * std::cos(2 * pi * static_cast<double>(i) / static_cast<double>(size));
    std::vector<double> re(size), im;
    for (std::size_t start = 0; start + size <= out[0].size(); start += size / 2) {
        for (std::size_t i = 0; i < size; ++i) re[i] = out[0][start + i] * window[i];
        im.clear();
        ASSERT_TRUE(MeasurementDSP::fft(re, im).ok());
        for (std::size_t k = 0; k <= size / 2; ++k) power[k] += re[k] * re[k] + im[k] * im[k];
    }
    const double binHz = rate / size;
    std::vector<double> levels;
    for (int m = -13; m <= 12; ++m) {  // 50 Hz ... 16 kHz
        const double centre = 1000 * std::pow(10.0, m / 10.0);
        const double lo = centre * std::pow(10.0, -0.05), hi = centre * std::pow(10.0, 0.05);
        double sum = 0;
        for (auto k = static_cast<std::size_t>(lo / binHz); k <= static_cast<std::size_t>(hi / binHz) + 1;
             ++k) {
            const double kd = static_cast<double>(k);
            const double a = std::max(lo, (kd - 0.5) * binHz), b = std::min(hi, (kd + 0.5) * binHz);
            if (b > a) sum += power[k] * (b - a) / binHz;
        }
        levels.push_back(10 * std::log10(sum));
    }
    double mean = 0;
    for (double l : levels) mean += l / static_cast<double>(levels.size());
    for (std::size_t i = 0; i < levels.size(); ++i)
        EXPECT_NEAR(levels[i], mean, 0.5)
            << "band " << 1000 * std::pow(10.0, (static_cast<int>(i) - 13) / 10.0) << " Hz";
}

// A write that fails (here: the file-size limit, as a full disk would) leaves no partial file behind.
TEST(SignalRenderer, FailedWriteLeavesNoFile) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 1 << 20;
    setrlimit(RLIMIT_FSIZE, &small);
    auto result = SignalRenderer::make({.seconds = 10}, 48000);  // 3.84 MB
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().domain, "sndfile");
    EXPECT_EQ(fileCount(TempFiles::directory()), 0);
}

}  // namespace quorvel
