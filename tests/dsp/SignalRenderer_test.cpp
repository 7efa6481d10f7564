#include "dsp/SignalRenderer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <numbers>
#include <set>

#include "SoxOracle.h"
#include "TestHome.h"
#include "dsp/ComplexFFT.h"
#include "dsp/QuorvelError.h"
#include "dsp/SignalPreset.h"
#include "platform/TempFiles.h"

namespace quorvel {

namespace {

Channels render(const SignalSettings& settings, double rate = 48000, std::uint64_t seed = 1) {
    RandomSource random(seed);
    auto path = SignalRenderer::make(settings, rate, random);
    EXPECT_TRUE(path.ok()) << (path.ok() ? "" : path.error().description);
    if (!path.ok()) return {};
    Channels channels = readChannels(*path);
    TempFiles::removeQuietly(*path);
    return channels;
}

// The frequencies a name states: "63 Hz", "35–100 Hz", "150 Hz–8 kHz", "1 kHz / 1.2 kHz".
std::multiset<double> statedHz(const std::string& name) {
    std::multiset<double> out;
    std::vector<double> pending;
    for (std::size_t i = 0; i < name.size();) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) {
            ++i;
            continue;
        }
        std::size_t used = 0;
        pending.push_back(std::stod(name.substr(i), &used));
        i += used;
        if (name.compare(i, 3, "\u2013") == 0 && i + 3 < name.size() &&
            std::isdigit(static_cast<unsigned char>(name[i + 3])))
            continue;  // a range: its first end takes the second's unit
        const double unit = name.compare(i, 4, " kHz") == 0 ? 1000 : name.compare(i, 3, " Hz") == 0 ? 1 : 0;
        for (double v : pending)
            if (unit > 0) out.insert(v * unit);
        pending.clear();
    }
    return out;
}

// Rising zero crossings of x in frames [from, to).
int crossings(const std::vector<float>& x, std::size_t from, std::size_t to) {
    int n = 0;
    for (std::size_t t = from + 1; t < to; ++t) n += x[t - 1] < 0 && x[t] >= 0;
    return n;
}

}  // namespace

TEST(SignalPreset, ElevenDistinctPresetsThatRenderAndPlayWhatTheyAreCalled) {
    const auto& presets = SignalPreset::seeded();
    ASSERT_EQ(presets.size(), 11u);
    std::set<std::string> ids;
    for (const auto& p : presets) {
        ids.insert(p.id);
        EXPECT_FALSE(render(p.settings).empty()) << p.id;
        std::multiset<double> played;
        const SignalSettings& s = p.settings;
        if (s.filtered)
            played = {s.hp, s.lp};
        else if (s.kind == SignalKind::dual)
            played = {s.frequency, s.frequency2};
        else if (s.kind == SignalKind::logSweep || s.kind == SignalKind::linearSweep)
            played = {s.start, s.end};
        else if (s.kind == SignalKind::sine || s.kind == SignalKind::pulse)
            played = {s.frequency};
        EXPECT_EQ(statedHz(p.id), played) << p.id;
    }
    EXPECT_EQ(ids.size(), 11u);
    for (SignalKind kind : allSignalKinds) EXPECT_EQ(signalKindFromRawValue(rawValue(kind)), kind);
    for (const char* other : {"pink noise", "Pink", "Pink noise ", ""})
        EXPECT_FALSE(signalKindFromRawValue(other));
}

// Every kind: silent ends, a 0.98 peak, identical channels, silence outside the gates.
TEST(SignalRenderer, EveryKindFadesPeaksAndGates) {
    for (bool filtered : {false, true}) {
        for (SignalKind kind : allSignalKinds) {
            const std::string label = std::string(rawValue(kind)) + (filtered ? " filtered" : "");
            const auto out =
                render({.kind = kind, .seconds = 2, .hp = 100, .lp = 5000, .filtered = filtered});
            ASSERT_EQ(out.size(), 2u) << label;
            ASSERT_EQ(out[0].size(), 96000u) << label;
            EXPECT_EQ(out[0].front(), 0.0f) << label;
            EXPECT_EQ(out[0].back(), 0.0f) << label;
            float peak = 0;
            for (float v : out[0]) peak = std::max(peak, std::abs(v));
            EXPECT_NEAR(peak, 0.98f, 1e-6) << label;
            EXPECT_EQ(out[0], out[1]) << label;
            if (filtered) continue;  // the filters ring on past the gates
            const int gateEnd = kind == SignalKind::sync ? 3840 : kind == SignalKind::pulse ? 24000 : 48000;
            // The gates open over 5 ms (sync) or 10 ms (pulse): half open after half of that.
            const auto ramp = static_cast<long>(kind == SignalKind::sync ? 120 : 240);
            if (gateEnd < 48000) {
                EXPECT_LT(*std::max_element(out[0].begin() + 48000, out[0].begin() + 48000 + ramp,
                                            [](float a, float b) { return std::abs(a) < std::abs(b); }),
                          0.5f)
                    << label;
            }
            int loud = 0;
            for (std::size_t n = 0; n < out[0].size(); ++n)
                loud += static_cast<int>(n % 48000) >= gateEnd && out[0][n] != 0;
            EXPECT_EQ(loud, 0) << label;
        }
    }
    auto file = [](SignalKind kind) {
        auto path = SignalRenderer::make({.kind = kind, .seconds = 1});
        const Channels channels = path.ok() ? readChannels(*path) : Channels{};
        TempFiles::removeQuietly(path.ok() ? *path : "");
        return channels;
    };
    EXPECT_NE(file(SignalKind::pink), file(SignalKind::pink));
    EXPECT_EQ(file(SignalKind::logSweep), file(SignalKind::logSweep));
}

// Tones against sox's sine (one frame later), with the clamps to 20 Hz…min(0.45 × rate, 20 kHz).
TEST(SignalRenderer, TonesMatchSoxSinesAfterClamping) {
    struct Case {
        SignalSettings settings;
        double rate, hz;
    };
    const Case cases[] = {
        {{.kind = SignalKind::sine, .seconds = 1}, 48000, 1000},
        {{.kind = SignalKind::sine, .frequency = 5, .seconds = 1}, 48000, 20},
        {{.kind = SignalKind::sine, .frequency = 5000, .seconds = 1}, 8000, 3600},
        {{.kind = SignalKind::logSweep, .start = 20000, .end = 20000, .seconds = 1}, 44100, 19845},
        {{.kind = SignalKind::linearSweep, .start = 440, .end = 440, .seconds = 1}, 48000, 440},
        {{.kind = SignalKind::dual, .frequency2 = 1500, .balance = 1.5, .seconds = 1}, 48000, 1500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hz);
        const auto ours = render(c.settings, c.rate);
        ASSERT_EQ(ours.size(), 2u);
        const auto frames = static_cast<std::int64_t>(ours[0].size());
        const std::string soxPath = TestHome::freshDir("sox") + "/sine.wav";
        ASSERT_TRUE(runSox("-r " + std::to_string(static_cast<int>(c.rate)) +
                           " -c 1 -n -e floating-point -b 32 " + soxPath + " synth " +
                           std::to_string(frames + 1) + "s sine " + std::to_string(c.hz)));
        const auto sox = readChannels(soxPath);
        ASSERT_EQ(static_cast<std::int64_t>(sox.at(0).size()), frames + 1);
        std::vector<double> expected(static_cast<std::size_t>(frames));
        double peak = 0;
        for (std::int64_t n = 0; n < frames; ++n) {
            const double fade =
                std::clamp(static_cast<double>(std::min(n, frames - 1 - n)) / (0.01 * c.rate), 0.0, 1.0);
            expected[n] = fade * sox[0][n + 1];
            peak = std::max(peak, std::abs(expected[n]));
        }
        double worst = 0;
        for (std::int64_t n = 0; n < frames; ++n)
            worst = std::max(
                worst, std::abs(static_cast<double>(
                           static_cast<float>(expected[n]) * static_cast<float>(0.98 / peak) - ours[0][n])));
        EXPECT_LT(worst, 1e-6);
    }
}

// A sweep makes as many cycles as its frequency's integral, linear or logarithmic.
TEST(SignalRenderer, SweepsRunLinearlyOrLogarithmicallyOverTheCycle) {
    struct Case {
        SignalKind kind;
        double end, seconds;
        int first, second;
    };
    for (const Case c :
         {Case{SignalKind::linearSweep, 1100, 1, 175, 425}, Case{SignalKind::logSweep, 1000, 1, 94, 297},
          Case{SignalKind::linearSweep, 1100, 2, 350, 850}}) {
        const auto out = render({.kind = c.kind, .start = 100, .end = c.end, .seconds = c.seconds});
        ASSERT_EQ(out.size(), 2u);
        const std::size_t half = out[0].size() / 2;
        EXPECT_NEAR(crossings(out[0], 0, half), c.first, 1.5) << rawValue(c.kind) << c.seconds;
        EXPECT_NEAR(crossings(out[0], half, 2 * half), c.second, 1.5) << rawValue(c.kind) << c.seconds;
    }
}

// Seeded pink noise has equal power in every third-octave band from 50 Hz to 16 kHz, within 0.5 dB.
TEST(SignalRenderer, PinkNoiseFallsThreeDecibelsPerOctave) {
    const double rate = 48000;
    const auto out = render({.kind = SignalKind::pink, .seconds = 60}, rate, 12345);
    ASSERT_EQ(out.size(), 2u);
    const std::size_t size = 65536;
    std::vector<double> power(size / 2 + 1, 0.0), re(size), im;
    for (std::size_t start = 0; start + size <= out[0].size(); start += size / 2) {
        for (std::size_t i = 0; i < size; ++i)
            re[i] = out[0][start + i] *
                    (0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / size));
        im.clear();
        ASSERT_TRUE(ComplexFFT::transform(re, im).ok());
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
            const double f = static_cast<double>(k), a = std::max(lo, (f - 0.5) * binHz),
                         b = std::min(hi, (f + 0.5) * binHz);
            if (b > a) sum += power[k] * (b - a) / binHz;
        }
        levels.push_back(10 * std::log10(sum));
    }
    double mean = 0;
    for (double l : levels) mean += l / static_cast<double>(levels.size());
    for (std::size_t i = 0; i < levels.size(); ++i) EXPECT_NEAR(levels[i], mean, 0.5) << "band " << i;
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
