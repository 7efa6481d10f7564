#include "dsp/MeasurementDSP.h"

#include <gtest/gtest.h>

#include <algorithm>
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
const double floorDB = 20.0 * std::log10(1e-9);  // −180

void expectNoDelay(const AnalysisResult& r) {
    EXPECT_FALSE(r.delayMS.has_value());
    EXPECT_TRUE(r.transfer.empty());
    EXPECT_EQ(r.averages, 0);
    EXPECT_EQ(r.compensationMS, 0.0);
}

void expectAllFinite(const AnalysisResult& r) {
    for (const SpectrumPoint& p : r.spectrum) ASSERT_TRUE(std::isfinite(p.db) && p.db >= floorDB) << p.id;
    EXPECT_TRUE(std::isfinite(r.correlation));
    for (const TransferBin& b : r.transfer)
        ASSERT_TRUE(std::isfinite(b.real) && std::isfinite(b.imag) && std::isfinite(b.coherence));
}

// A broadband reference and a mic that hears it `lag` samples later, slightly filtered.
struct Capture {
    std::vector<double> mic, reference;
};
Capture lateCapture(std::size_t n, std::size_t lag, unsigned seed = 21) {
    Capture c;
    c.reference = noise(n, seed);
    c.mic = delayed(fir(c.reference, {0.7, 0.2}), lag);
    return c;
}

}  // namespace

TEST(Analyze, SpectrumNeedsFullBlock) {
    EXPECT_EQ(MeasurementDSP::analyze(noise(4095, 1), std::nullopt, rate), AnalysisResult{});
    const AnalysisResult r = MeasurementDSP::analyze(noise(4096, 1), std::nullopt, rate);
    ASSERT_EQ(r.spectrum.size(), 2047u);
    EXPECT_EQ(r.spectrum.front().id, 1);
    EXPECT_EQ(r.spectrum.back().id, 2047);
    EXPECT_DOUBLE_EQ(r.spectrum.back().hz, 48000.0 * 2047 / 4096);
    EXPECT_EQ(r.correlation, 0.0);
    expectNoDelay(r);
    // A rate outside the contract gives the empty result rather than meaningless frequencies.
    EXPECT_EQ(MeasurementDSP::analyze(noise(4096, 1), std::nullopt, 0), AnalysisResult{});
    EXPECT_EQ(MeasurementDSP::analyze(noise(4096, 1), std::nullopt, std::nan("")), AnalysisResult{});
}

// Only the newest 4096 samples count: the older ones here would otherwise dominate.
TEST(Analyze, FullScaleSineAtBinCentreReadsZeroDBFS) {
    // Bin 1024 = 12 kHz. A unit sine at a bin centre gives |X| = Σw/2, which the scale 2/Σw turns into
    // 1 (0 dB); the leakage of its mirror image is far below the 1e−6 dB (1.2e−7 relative) allowed.
    const std::size_t k0 = 1024;
    std::vector<double> mic(5000, 5.0);
    for (std::size_t i = 0; i < 4096; ++i)
        mic[904 + i] = std::sin(2.0 * M_PI * static_cast<double>(k0 * i) / 4096.0);
    const AnalysisResult r = MeasurementDSP::analyze(mic, std::nullopt, rate);
    ASSERT_EQ(r.spectrum.size(), 2047u);
    EXPECT_NEAR(r.spectrum[k0 - 1].db, 0.0, 1e-6);
    EXPECT_EQ(r.spectrum[k0 - 1].hz, 12000.0);
    EXPECT_NEAR(r.spectrum[k0 - 2].db, 20 * std::log10(0.5),
                0.01);  // Hann main lobe: half amplitude next door
    EXPECT_LT(r.spectrum[k0 - 11].db, -100.0);
}

TEST(Analyze, SilenceAndNonFiniteSamplesStayAtTheFloor) {
    const AnalysisResult silent =
        MeasurementDSP::analyze(std::vector<double>(16384, 0.0), noise(16384, 2), rate);
    for (const SpectrumPoint& p : silent.spectrum) ASSERT_EQ(p.db, floorDB);
    EXPECT_EQ(silent.correlation, 0.0);
    expectNoDelay(silent);
    // A constant reference has nothing to correlate once the mean is gone.
    const AnalysisResult constant =
        MeasurementDSP::analyze(noise(16384, 3), std::vector<double>(16384, 0.3), rate);
    EXPECT_EQ(constant.correlation, 0.0);
    expectNoDelay(constant);

    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    const Capture good = lateCapture(32768, 48);
    ASSERT_TRUE(MeasurementDSP::analyze(good.mic, good.reference, rate).delayMS);
    for (double bad : {nan, inf, -inf}) {
        Capture c = good;
        c.mic.back() = bad;  // inside the spectrum window
        AnalysisResult r = MeasurementDSP::analyze(c.mic, c.reference, rate);
        expectAllFinite(r);
        for (const SpectrumPoint& p : r.spectrum) ASSERT_EQ(p.db, floorDB);
        EXPECT_EQ(r.correlation, 0.0);
        expectNoDelay(r);

        c = good;
        c.reference[100] = bad;
        r = MeasurementDSP::analyze(c.mic, c.reference, rate);
        expectAllFinite(r);
        EXPECT_EQ(r.spectrum, MeasurementDSP::analyze(good.mic, std::nullopt, rate).spectrum);
        EXPECT_EQ(r.correlation, 0.0);
        expectNoDelay(r);
    }
}

TEST(Analyze, ReferencePathNeedsMatchingLengthOfAtLeast16384) {
    Capture c = lateCapture(16384, 100);
    const AnalysisResult accepted = MeasurementDSP::analyze(c.mic, c.reference, rate);
    ASSERT_TRUE(accepted.delayMS);
    EXPECT_DOUBLE_EQ(*accepted.delayMS, 100 * 1000.0 / rate);
    EXPECT_TRUE(accepted.transfer.empty());  // 16384 − 100 usable samples are too few for the estimate

    std::vector<double> shortReference(c.reference.begin(), c.reference.end() - 1);
    const AnalysisResult mismatched = MeasurementDSP::analyze(c.mic, shortReference, rate);
    EXPECT_EQ(mismatched.spectrum, accepted.spectrum);
    EXPECT_EQ(mismatched.correlation, 0.0);
    expectNoDelay(mismatched);

    c.mic.pop_back();
    c.reference.pop_back();
    const AnalysisResult tooShort = MeasurementDSP::analyze(c.mic, c.reference, rate);
    EXPECT_EQ(tooShort.spectrum.size(), 2047u);
    EXPECT_EQ(tooShort.correlation, 0.0);
    expectNoDelay(tooShort);
}

TEST(Analyze, MicTenMillisecondsLate) {
    const Capture c = lateCapture(65536, 480);
    const AnalysisResult r = MeasurementDSP::analyze(c.mic, c.reference, rate);
    ASSERT_TRUE(r.delayMS);
    EXPECT_EQ(*r.delayMS, 10.0);  // 480·1000/48000 is exact
    EXPECT_EQ(r.compensationMS, 10.0);
    EXPECT_GT(r.correlation, 0.95);
    EXPECT_LE(r.correlation, 1.0);
    EXPECT_EQ(r.averages, 6);  // usable 65056: (65056 − 16384)/8192 + 1
    ASSERT_EQ(r.transfer.size(), 6820u);
    // 0.7 + 0.2·e^(−iω) at the first kept bin (20.5 Hz): magnitude ≈ 0.9, phase ≈ 0.
    EXPECT_NEAR(r.transfer.front().real, 0.9, 1e-3);
    EXPECT_NEAR(r.transfer.front().imag, 0.0, 1e-3);
}

// Clipping anywhere in either block makes the delay untrustworthy, but the correlation is still shown.
TEST(Analyze, ClippedSampleRejectsDelayButKeepsCorrelation) {
    const Capture clean = lateCapture(32768, 240);
    const double cleanCorrelation = MeasurementDSP::analyze(clean.mic, clean.reference, rate).correlation;
    for (int which = 0; which < 2; ++which) {
        Capture c = clean;
        (which == 0 ? c.mic : c.reference)[5] = 0.999;
        const AnalysisResult r = MeasurementDSP::analyze(c.mic, c.reference, rate);
        expectNoDelay(r);
        EXPECT_NEAR(r.correlation, cleanCorrelation, 0.02);
        EXPECT_GT(r.correlation, 0.9);
    }
}

// A steady tone correlates at every period: the peak is strong but not unique, so no delay is given.
TEST(Analyze, PeriodicSignalHasNoClearPeak) {
    std::vector<double> reference(32768);
    for (std::size_t i = 0; i < reference.size(); ++i)
        reference[i] = 0.5 * std::sin(2.0 * M_PI * 500.0 * static_cast<double>(i) / rate);
    const AnalysisResult r = MeasurementDSP::analyze(delayed(reference, 30), reference, rate);
    EXPECT_GT(r.correlation, 0.9);
    expectNoDelay(r);
}

// A slowly varying reference correlates over many lags, so the largest value inside the range can sit on
// its edge while the true peak lies outside: such an edge is no delay. Inside the range nothing changes.
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
    // The rival peaks are searched inside the range only: a reflection as loud as the direct sound on its
    // last lag is none (it would be, at 0.82 of the peak for the shorter overlap).
    const std::vector<double> white = noise(n, 9, 0.1);
    std::vector<double> reflected = delayed(white, 480);
    const std::vector<double> reflection = delayed(white, 12000);
    for (std::size_t i = 0; i < n; ++i) reflected[i] += reflection[i];
    EXPECT_EQ(MeasurementDSP::analyze(reflected, white, 48000).delayMS, 10.0);

    for (const Case& c : cases) {
        const AnalysisResult r = MeasurementDSP::analyze(c.mic, reference, c.rate);
        EXPECT_EQ(r.delayMS, c.delayMS) << c.what;
        EXPECT_GT(r.correlation, 0.5) << c.what;  // still shown, as for any refused delay
        if (!c.delayMS) expectNoDelay(r);
    }
}

// Uncorrelated signals: a weak peak is refused.
TEST(Analyze, UnrelatedSignalsGiveWeakCorrelation) {
    const AnalysisResult r = MeasurementDSP::analyze(noise(32768, 4), noise(32768, 5), rate);
    EXPECT_LT(r.correlation, 0.25);
    expectNoDelay(r);
}

// Every published number must equal the plain computation (complex per-butterfly FFTs) within 1e-12
// relative, levels within 1e-9 dB, with the same delay. Transfer values are compared relative to the
// bin's |H|, so that a component near zero is held to the rounding of the whole bin.
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

void expectSameAsTextbook(const std::vector<double>& mic, const std::optional<std::vector<double>>& ref,
                          double rateHz, const char* what) {
    SCOPED_TRACE(what);
    std::optional<std::span<const double>> reference;
    if (ref) reference = std::span<const double>(*ref);
    const AnalysisResult ours = MeasurementDSP::analyze(mic, reference, rateHz);
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
    std::vector<double> sine(4096);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] = std::sin(2.0 * M_PI * static_cast<double>(1024 * i) / 4096.0);
    expectSameAsTextbook(sine, std::nullopt, rate, "full-scale sine at a bin centre");
    const Capture late = lateCapture(65536, 480);
    expectSameAsTextbook(late.mic, late.reference, rate, "mic 10 ms late");
    Capture clipped = lateCapture(32768, 240);
    clipped.mic[5] = 0.999;
    expectSameAsTextbook(clipped.mic, clipped.reference, rate, "clipped");
    const std::vector<double> red = onePole(noise(65536, 8), 0.1, 0.99);
    expectSameAsTextbook(red, delayed(red, 12024), rate, "peak past the range");
    expectSameAsTextbook(noise(32768, 4), noise(32768, 5), rate, "unrelated");

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
        expectSameAsTextbook(mic, reference, rateHz, "random");
    }
}

// The estimate alone, on inputs whose spectra are far from flat: a reference band-limited to 10 kHz
// leaves bins near the energy floor.
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
