#include "dsp/MeasurementDSP.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <tuple>
#include <utility>

#include "dsp/ComplexFFT.h"
#include "dsp/RealFFT.h"

namespace quorvel {

namespace {

// Hann window with the symmetric denominator 4095, built once.
const std::vector<double>& hannWindow4096() {
    static const std::vector<double> window = [] {
        std::vector<double> w(4096);
        for (std::size_t i = 0; i < w.size(); ++i)
            w[i] = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / 4095.0);
        return w;
    }();
    return window;
}

constexpr std::size_t spectrumLength = 4096;
constexpr std::size_t minimumReferenceLength = 16384;
constexpr double clipLevel = 0.999;
// 20·log10(1e−9): the level of silence.
const double floorDB = 20.0 * std::log10(1e-9);

// The spectrum of `block` (the newest 4096 mic samples), transformed in `re` and `im` (4096 values each).
// It keeps the complex transform: levels far below the strongest bin (down to the −180 dB floor) are only
// reproduced exactly by the same arithmetic, and at 4096 points it costs little.
std::vector<SpectrumPoint> spectrum(std::span<const double> block, double rate, std::vector<double>& re,
                                    std::vector<double>& im) {
    const std::vector<double>& window = hannWindow4096();
    double windowSum = 0;
    bool finite = true;
    for (std::size_t i = 0; i < spectrumLength; ++i) {
        if (!std::isfinite(block[i])) finite = false;
        re[i] = block[i] * window[i];
        im[i] = 0;
        windowSum += window[i];
    }
    if (finite) (void)ComplexFFT::transform(re, im, false);
    const double scale = 2.0 / windowSum;
    std::vector<SpectrumPoint> points;
    points.reserve(spectrumLength / 2 - 1);
    for (std::size_t k = 1; k < spectrumLength / 2; ++k) {
        const double hz = rate * static_cast<double>(k) / static_cast<double>(spectrumLength);
        const double db =
            finite ? 20.0 * std::log10(std::max(scale * std::hypot(re[k], im[k]), 1e-9)) : floorDB;
        points.push_back(SpectrumPoint{static_cast<int>(k), hz, db});
    }
    return points;
}

// What the correlation needs to know of the two blocks before it starts.
struct BlockLevels {
    double micMean = 0, refMean = 0;
    bool clipped = false;  // a sample of either block at or above clipLevel
};

// Nothing when a sample is not finite: that leaves nothing to correlate (no delay, correlation 0).
std::optional<BlockLevels> blockLevels(std::span<const double> mic, std::span<const double> ref) {
    const std::size_t n = mic.size();
    BlockLevels levels;
    double micSum = 0, refSum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(mic[i]) || !std::isfinite(ref[i])) return std::nullopt;
        if (std::fabs(mic[i]) >= clipLevel || std::fabs(ref[i]) >= clipLevel) levels.clipped = true;
        micSum += mic[i];
        refSum += ref[i];
    }
    levels.micMean = micSum / static_cast<double>(n);
    levels.refMean = refSum / static_cast<double>(n);
    return levels;
}

// The delay finder's verdict on one correlation.
struct Peak {
    double correlation = 0;         // the normalised peak, 0 … 1
    std::optional<double> delayMS;  // absent when the peak is not trusted
};

}  // namespace

namespace MeasurementDSP {

// The correlation's transform and arrays, for one padded length, and the two steps that use them.
struct Workspace::Correlation {
    explicit Correlation(std::size_t nfft)
        : transform(nfft), aRe(nfft / 2), aIm(nfft / 2), bRe(nfft / 2), bIm(nfft / 2) {}

    // Leaves in the arrays the circular cross-correlation r[l] = Σ a[n+l]·b[n] of the mean-free blocks
    // and gives its normalisation √(Σa²·Σb²); nothing when that is too small or not finite. Kept out of
    // line: inlined into analyze, its loops run short of registers (about 1 % more instructions).
    [[gnu::noinline]] std::optional<double> correlate(std::span<const double> mic,
                                                      std::span<const double> ref, const BlockLevels& levels);
    // The largest |r| over lags 0 … min(N/3, maxDelayMS), and whether it is trusted as the delay.
    Peak findPeak(std::size_t n, double rate, double norm, bool clipped) const;

    // |r[l]|: lag l sits at l/2 of the real parts when even, of the imaginary parts when odd.
    double at(std::size_t l) const { return std::fabs(l % 2 == 0 ? aRe[l / 2] : aIm[l / 2]); }

    RealFFT transform;
    std::vector<double> aRe, aIm, bRe, bIm;
};

std::optional<double> Workspace::Correlation::correlate(std::span<const double> mic,
                                                        std::span<const double> ref,
                                                        const BlockLevels& levels) {
    const std::size_t n = mic.size();
    // The padded signals, even samples in the real parts and odd in the imaginary parts.
    double *ar = aRe.data(), *ai = aIm.data(), *br = bRe.data(), *bi = bIm.data();
    const std::size_t half = transform.half(), pairs = n / 2;
    double micEnergy = 0, refEnergy = 0;
    auto take = [&](std::size_t i) {
        const double a = mic[i] - levels.micMean, b = ref[i] - levels.refMean;
        micEnergy += a * a;
        refEnergy += b * b;
        return std::pair{a, b};
    };
    for (std::size_t j = 0; j < pairs; ++j) {
        std::tie(ar[j], br[j]) = take(2 * j);
        std::tie(ai[j], bi[j]) = take(2 * j + 1);
    }
    // The padding, after an odd N's last sample.
    std::size_t padded = pairs;
    if (n % 2 == 1) {
        std::tie(ar[pairs], br[pairs]) = take(n - 1);
        ai[pairs] = bi[pairs] = 0;
        ++padded;
    }
    for (double* v : {ar, ai, br, bi}) std::fill(v + padded, v + half, 0.0);
    const double norm = std::sqrt(micEnergy * refEnergy);
    if (!(norm > 1e-6) || !std::isfinite(norm)) return std::nullopt;

    transform.forward(ar, ai, true);  // nfft ≥ 2N: the upper half is padding
    transform.forward(br, bi, true);
    // P = A·conj(B), written over A; its inverse transform is r. Position 0 holds the real bins 0 and
    // nfft/2.
    ar[0] *= br[0];
    ai[0] *= bi[0];
    for (std::size_t p = 1; p < half; ++p) {
        const double pr = ar[p] * br[p] + ai[p] * bi[p];
        const double pi = ai[p] * br[p] - ar[p] * bi[p];
        ar[p] = pr;
        ai[p] = pi;
    }
    transform.inverse(ar, ai);
    return norm;
}

Peak Workspace::Correlation::findPeak(std::size_t n, double rate, double norm, bool clipped) const {
    // Compared in double first so that an absurd rate cannot overflow.
    const std::size_t maxLag = static_cast<std::size_t>(
        std::min(static_cast<double>(n / 3), std::floor(rate * (maxDelayMS / 1000.0))));
    std::size_t peak = 0;
    double peakValue = at(0);
    for (std::size_t l = 1; l <= maxLag; ++l) {
        const double here = at(l);
        if (here > peakValue) peak = l, peakValue = here;
    }
    const double exclusion = std::max(std::floor(rate * 0.001), 4.0);
    double second = 0;
    if (maxLag >= 3) {
        double before = at(0), here = at(1);
        for (std::size_t l = 1; l + 1 <= maxLag; ++l) {
            const double after = at(l + 1);
            const double distance = l > peak ? static_cast<double>(l - peak) : static_cast<double>(peak - l);
            if (distance > exclusion && before <= here && after < here) second = std::max(second, here);
            before = here, here = after;
        }
    }
    const double threshold = 1.25 * second;
    const double correlation = std::min(peakValue / norm, 1.0);
    if (!std::isfinite(correlation)) return Peak{};
    // A largest value on an end of the searched range is a true peak only if the lag just outside falls
    // below it: otherwise the real peak lies outside (a mic hearing the reference early, or a delay past
    // the range). Lag −1 sits at the end of the circular correlation, which the padding keeps clean.
    const double outside = peak == 0 ? at(transform.length() - 1) : 0.0;
    const double beyond = peak == maxLag ? at(maxLag + 1) : 0.0;
    const bool edge = outside >= peakValue || beyond >= peakValue;
    if (clipped || edge || !(correlation >= 0.25) || !(threshold < peakValue))
        return Peak{correlation, std::nullopt};
    return Peak{correlation, static_cast<double>(peak) * 1000.0 / rate};
}

Workspace::Workspace() : spectrumRe_(spectrumLength), spectrumIm_(spectrumLength) {}
Workspace::~Workspace() = default;

AnalysisResult analyze(std::span<const double> mic, std::optional<std::span<const double>> reference,
                       double rate) {
    Workspace workspace;
    return analyze(workspace, mic, reference, rate);
}

AnalysisResult analyze(Workspace& w, std::span<const double> mic,
                       std::optional<std::span<const double>> reference, double rate) {
    AnalysisResult result;
    const std::size_t n = mic.size();
    if (n < spectrumLength || !(rate > 0) || !std::isfinite(rate)) return result;
    result.spectrum = spectrum(mic.last(spectrumLength), rate, w.spectrumRe_, w.spectrumIm_);

    if (!reference || n < minimumReferenceLength || reference->size() != n) return result;
    const std::span<const double> ref = *reference;
    const std::optional<BlockLevels> levels = blockLevels(mic, ref);
    if (!levels) return result;
    std::size_t nfft = 1;
    while (nfft < 2 * n) nfft *= 2;
    if (!w.correlation_ || w.correlation_->transform.length() != nfft)
        w.correlation_ = std::make_unique<Workspace::Correlation>(nfft);
    const std::optional<double> norm = w.correlation_->correlate(mic, ref, *levels);
    if (!norm) return result;
    const Peak peak = w.correlation_->findPeak(n, rate, *norm, levels->clipped);
    result.correlation = peak.correlation;
    if (!peak.delayMS) return result;

    TransferEstimate estimate = TransferDSP::estimate(w.transfer_, mic, ref, rate, *peak.delayMS);
    result.delayMS = peak.delayMS;
    result.compensationMS = *peak.delayMS;
    result.transfer = std::move(estimate.bins);
    result.averages = estimate.averages;
    return result;
}

}  // namespace MeasurementDSP

}  // namespace quorvel
