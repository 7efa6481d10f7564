#include "dsp/MeasurementDSP.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <span>

#include "DspSignals.h"
#include "TextbookAnalysis.h"
#include "dsp/TransferDSP.h"

namespace quorvel {

using namespace DspSignals;

namespace {

constexpr double rate = 48000;

void expectNoDelay(const AnalysisResult& r) {
    EXPECT_FALSE(r.delayMS.has_value());
    EXPECT_TRUE(r.transfer.empty());
    EXPECT_EQ(r.averages, 0);
    EXPECT_EQ(r.compensationMS, 0.0);
}

std::vector<double> mixed(std::vector<double> a, const std::vector<double>& b, double gain) {
    for (std::size_t i = 0; i < a.size(); ++i) a[i] += gain * b[i];
    return a;
}

// A broadband reference and a mic that hears it `lag` samples later, slightly filtered.
struct Capture {
    std::vector<double> mic, reference;
};
Capture lateCapture(std::size_t n, std::size_t lag, unsigned seed = 21) {
    Capture c{{}, noise(n, seed)};
    c.mic = delayed(fir(c.reference, {0.7, 0.2}), lag);
    return c;
}

}  // namespace

// Only the newest 4096 samples count; a unit sine at a bin centre reads 0 dB; bad input gives nothing.
TEST(Analyze, SpectrumReadsDBFSOfTheNewestFullBlock) {
    std::vector<double> mic(5000, 5.0);
    for (std::size_t i = 0; i < 4096; ++i)
        mic[904 + i] = std::sin(2.0 * M_PI * static_cast<double>(1024 * i) / 4096.0);
    const AnalysisResult r = MeasurementDSP::analyze(mic, std::nullopt, rate);
    ASSERT_EQ(r.spectrum.size(), 2047u);
    EXPECT_EQ(r.spectrum[1023].hz, 12000.0);
    EXPECT_NEAR(r.spectrum[1023].db, 0.0, 1e-6);
    EXPECT_EQ(r.correlation, 0.0);
    expectNoDelay(r);
    for (const double badRate : {0.0, -rate, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_EQ(MeasurementDSP::analyze(mic, std::nullopt, badRate), AnalysisResult{}) << badRate;
    EXPECT_EQ(MeasurementDSP::analyze(std::span(mic).first(4095), std::nullopt, rate), AnalysisResult{});
}

// A delay needs a strong (0.25), clear (1.25 × rivals over 1 ms away), unclipped peak.
TEST(Analyze, DelayIsGivenOnlyForAStrongClearUnclippedPeak) {
    const Capture late = lateCapture(65536, 480);
    const std::vector<double> reference = late.reference, other = noise(65536, 4, 0.1),
                              quiet = noise(65536, 7, 0.1);
    std::vector<double> tone(32768);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.5 * std::sin(2.0 * M_PI * 500.0 * static_cast<double>(i) / rate);
    auto echo = [&](std::size_t lag) { return mixed(delayed(quiet, 480), delayed(quiet, lag), 0.9); };
    Capture clipped = lateCapture(32768, 240);
    clipped.mic[5] = 0.999;
    Capture clippedReference = lateCapture(32768, 240);
    clippedReference.reference[32767] = -0.999;
    const std::vector<double> slow = noise(16384, 6, 0.1);
    struct Case {
        const char* what;
        std::vector<double> mic, reference;
        double rate;
        std::optional<double> delayMS;
        double low, high;  // of the correlation
    };
    const std::vector<Case> cases = {
        {"10 ms late", late.mic, reference, rate, 10.0, 0.95, 1.0},
        {"clipped mic", clipped.mic, clipped.reference, rate, std::nullopt, 0.9, 1.0},
        {"clipped reference", clippedReference.mic, clippedReference.reference, rate, std::nullopt, 0.9, 1.0},
        {"a steady tone correlates at every period", delayed(tone, 30), tone, rate, std::nullopt, 0.9, 1.0},
        {"unrelated noise", other, reference, rate, std::nullopt, 0.0, 0.25},
        {"buried at 0.2", mixed(other, delayed(reference, 480), 0.102), reference, rate, std::nullopt, 0.15,
         0.25},
        {"buried at 0.3", mixed(other, delayed(reference, 480), 0.157), reference, rate, 10.0, 0.25, 0.35},
        {"an echo 1 ms after is no rival", echo(528), quiet, rate, 10.0, 0.5, 1.0},
        {"an echo past 1 ms is", echo(529), quiet, rate, std::nullopt, 0.5, 1.0},
        {"at 2 kHz 4 samples count as 1 ms", mixed(delayed(slow, 20), delayed(slow, 23), 0.9), slow, 2000,
         10.0, 0.5, 1.0},
    };
    MeasurementDSP::Workspace workspace;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AnalysisResult r = MeasurementDSP::analyze(workspace, c.mic, c.reference, c.rate);
        EXPECT_EQ(r.delayMS, c.delayMS);
        EXPECT_GE(r.correlation, c.low);
        EXPECT_LE(r.correlation, c.high);
        if (!c.delayMS) expectNoDelay(r);
    }
    const AnalysisResult r = MeasurementDSP::analyze(workspace, late.mic, reference, rate);
    EXPECT_EQ(r.compensationMS, 10.0);
    EXPECT_EQ(r.averages, 6);  // usable 65056: (65056 − 16384)/8192 + 1
    ASSERT_EQ(r.transfer.size(), 6820u);
    // 0.7 + 0.2·e^(−iω) at the first kept bin (20.5 Hz): magnitude ≈ 0.9, phase ≈ 0.
    EXPECT_NEAR(r.transfer.front().real, 0.9, 1e-3);
    EXPECT_NEAR(r.transfer.front().imag, 0.0, 1e-3);
}

// A maximum on the edge of the lag range may hide a peak outside it: such an edge is no delay.
TEST(Analyze, PeakOnTheEdgeOfTheLagRangeIsNoDelay) {
    const std::size_t n = 65536;
    // Red noise: its autocorrelation falls by 1 % per sample, to 0.79 at 24 samples.
    const std::vector<double> reference = onePole(noise(n, 8), 0.1, 0.99);
    auto early = [&](std::size_t samples) {
        std::vector<double> mic(n, 0.0);
        std::copy(reference.begin() + static_cast<long>(samples), reference.end(), mic.begin());
        return mic;
    };
    struct Case {
        const char* what;
        double rate;
        std::vector<double> mic;
        std::optional<double> delayMS;
    };
    // maxLag: 250 ms (12000 samples) at 48 kHz; N/3 = 21845 samples at 192 kHz.
    const std::vector<Case> cases = {
        {"mic hears the reference 0.5 ms early", 48000, early(24), std::nullopt},
        {"electrical loopback", 48000, early(0), 0.0},
        {"250.5 ms late", 48000, delayed(reference, 12024), std::nullopt},
        {"250 ms late", 48000, delayed(reference, 12000), 250.0},
        {"just past N/3 at 192 kHz", 192000, delayed(reference, 21869), std::nullopt},
        {"N/3 at 192 kHz", 192000, delayed(reference, 21845), 21845 * 1000.0 / 192000},
    };
    for (const Case& c : cases) {
        const AnalysisResult r = MeasurementDSP::analyze(c.mic, reference, c.rate);
        EXPECT_EQ(r.delayMS, c.delayMS) << c.what;
        EXPECT_GT(r.correlation, 0.5) << c.what;  // still shown, as for any refused delay
        if (!c.delayMS) expectNoDelay(r);
    }
    // Rivals are searched inside the range only: a reflection on its last lag is none.
    const std::vector<double> white = noise(n, 9, 0.1);
    EXPECT_EQ(
        MeasurementDSP::analyze(mixed(delayed(white, 480), delayed(white, 12000), 1), white, 48000).delayMS,
        10.0);
}

// Every published number equals the plain computation to rounding (transfer relative to |H|).
void expectSameBins(const std::vector<TransferBin>& ours, const std::vector<TransferBin>& textbook) {
    ASSERT_EQ(ours.size(), textbook.size());
    for (std::size_t i = 0; i < ours.size(); ++i) {
        const TransferBin &a = ours[i], &b = textbook[i];
        ASSERT_EQ(a.id, b.id);
        ASSERT_EQ(a.hz, b.hz);
        const double h = std::hypot(b.real, b.imag);
        ASSERT_NEAR(a.real, b.real, 1e-12 * h) << a.id;
        ASSERT_NEAR(a.imag, b.imag, 1e-12 * h) << a.id;
        ASSERT_NEAR(a.coherence, b.coherence, 1e-12 * b.coherence) << a.id;
    }
}

void expectSameAsTextbook(MeasurementDSP::Workspace& workspace, const std::vector<double>& mic,
                          const std::optional<std::vector<double>>& ref, double rateHz, const char* what) {
    SCOPED_TRACE(what);
    std::optional<std::span<const double>> reference;
    if (ref) reference = std::span<const double>(*ref);
    const AnalysisResult ours = MeasurementDSP::analyze(workspace, mic, reference, rateHz);
    const AnalysisResult textbook = TextbookAnalysis::analyze(mic, reference, rateHz);
    ASSERT_EQ(ours.spectrum.size(), textbook.spectrum.size());
    for (std::size_t i = 0; i < ours.spectrum.size(); ++i) {
        ASSERT_EQ(ours.spectrum[i].id, textbook.spectrum[i].id);
        ASSERT_EQ(ours.spectrum[i].hz, textbook.spectrum[i].hz);
        ASSERT_NEAR(ours.spectrum[i].db, textbook.spectrum[i].db, 1e-9) << ours.spectrum[i].id;
    }
    EXPECT_EQ(ours.delayMS, textbook.delayMS);
    EXPECT_NEAR(ours.correlation, textbook.correlation, 1e-12 * textbook.correlation);
    EXPECT_EQ(ours.compensationMS, textbook.compensationMS);
    EXPECT_EQ(ours.averages, textbook.averages);
    expectSameBins(ours.transfer, textbook.transfer);
}

TEST(Analyze, EveryNumberMatchesThePlainComputation) {
    MeasurementDSP::Workspace workspace;
    std::vector<double> sine(4096);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] = std::sin(2.0 * M_PI * static_cast<double>(1024 * i) / 4096.0);
    expectSameAsTextbook(workspace, sine, std::nullopt, rate, "full-scale sine at a bin centre");
    const Capture late = lateCapture(65536, 480);
    expectSameAsTextbook(workspace, late.mic, late.reference, rate, "mic 10 ms late");
    Capture clipped = lateCapture(32768, 240);
    clipped.mic[5] = 0.999;
    expectSameAsTextbook(workspace, clipped.mic, clipped.reference, rate, "clipped");
    const std::vector<double> red = onePole(noise(65536, 8), 0.1, 0.99);
    expectSameAsTextbook(workspace, red, delayed(red, 12024), rate, "peak past the range");
    expectSameAsTextbook(workspace, noise(32768, 4), noise(32768, 5), rate, "unrelated");

    // Random captures: lengths, rates, delays, levels and filters drawn from a seeded generator.
    std::mt19937 engine(41);
    auto pick = [&](unsigned range) { return static_cast<unsigned>(engine() % range); };
    auto level = [&](double low, double high) { return low + (high - low) * pick(1000) / 1000.0; };
    const double rates[] = {44100, 48000, 96000, 192000};
    for (int i = 0; i < 8; ++i) {
        const std::size_t n = 16384 + pick(120000);
        const double rateHz = rates[pick(4)];
        const std::vector<double> reference = noise(n, pick(1000), level(0.05, 0.25));
        std::vector<double> mic = delayed(onePole(reference, level(0.2, 0.8), 0.3), pick(3000));
        expectSameAsTextbook(workspace, mic, reference, rateHz, "random");
    }
}

// The estimate alone, with a reference band-limited to 10 kHz (bins near the energy floor).
TEST(TransferEstimate, MatchesThePlainComputation) {
    const std::vector<double> reference = fir(noise(90000, 17), {0.25, 0.5, 0.25});
    const std::vector<double> mic = onePole(delayed(reference, 7), 0.5, 0.5);
    for (double delayMS : {0.0, 7000.0 / rate})
        expectSameBins(TransferDSP::estimate(mic, reference, rate, delayMS).bins,
                       TextbookAnalysis::estimate(mic, reference, rate, delayMS).bins);
    // At 32 kHz every bin up to 8191 (15998 Hz) is in the audible range.
    const std::vector<double> flat = noise(40000, 18);
    expectSameBins(TransferDSP::estimate(onePole(flat, 0.5, 0.5), flat, 32000, 0).bins,
                   TextbookAnalysis::estimate(onePole(flat, 0.5, 0.5), flat, 32000, 0).bins);
}

}  // namespace quorvel
