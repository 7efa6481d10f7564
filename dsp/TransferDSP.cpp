#include "dsp/TransferDSP.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace quorvel {

namespace {

constexpr std::size_t length = TransferDSP::segmentLength;
constexpr std::size_t hop = TransferDSP::segmentHop;
constexpr std::size_t bins = length / 2;
constexpr std::size_t minimumUsable = 2 * length;

// Hann window with the symmetric denominator 16383, built once.
const std::vector<double>& hannWindow() {
    static const std::vector<double> window = [] {
        std::vector<double> w(length);
        for (std::size_t i = 0; i < length; ++i)
            w[i] =
                0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(length - 1));
        return w;
    }();
    return window;
}

bool allFinite(std::span<const double> values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

}  // namespace

namespace TransferDSP {

TransferEstimate estimate(std::span<const double> mic, std::span<const double> reference, double rate,
                          double delayMS) {
    return estimateUsing(MeasurementDSP::fft, mic, reference, rate, delayMS);
}

TransferEstimate estimateUsing(MeasurementDSP::Transform transform, std::span<const double> mic,
                               std::span<const double> reference, double rate, double delayMS) {
    if (!(rate > 0) || !std::isfinite(rate) || !std::isfinite(delayMS)) return {};
    const double delaySamples = std::round(rate * delayMS / 1000.0);  // halves away from zero
    if (!(delaySamples >= 0) || delaySamples > static_cast<double>(mic.size())) return {};
    const std::size_t d = static_cast<std::size_t>(delaySamples);
    const std::size_t usable = std::min(mic.size() - d, reference.size());
    if (usable < minimumUsable) return {};

    const std::size_t segments = (usable - length) / hop + 1;
    const std::size_t span = (segments - 1) * hop + length;
    if (!allFinite(reference.first(span)) || !allFinite(mic.subspan(d, span))) return {};

    const std::vector<double>& window = hannWindow();
    std::vector<double> sxx(bins, 0.0), syy(bins, 0.0), sxyRe(bins, 0.0), sxyIm(bins, 0.0);
    std::vector<double> xRe(length), xIm(length), yRe(length), yIm(length);
    for (std::size_t segment = 0; segment < segments; ++segment) {
        const std::size_t start = segment * hop;
        for (std::size_t i = 0; i < length; ++i) {
            xRe[i] = reference[start + i] * window[i];
            yRe[i] = mic[start + d + i] * window[i];
        }
        std::fill(xIm.begin(), xIm.end(), 0.0);
        std::fill(yIm.begin(), yIm.end(), 0.0);
        (void)transform(xRe, xIm, false);
        (void)transform(yRe, yIm, false);
        for (std::size_t k = 1; k < bins; ++k) {
            sxx[k] += xRe[k] * xRe[k] + xIm[k] * xIm[k];
            syy[k] += yRe[k] * yRe[k] + yIm[k] * yIm[k];
            sxyRe[k] += yRe[k] * xRe[k] + yIm[k] * xIm[k];
            sxyIm[k] += yIm[k] * xRe[k] - yRe[k] * xIm[k];
        }
    }

    const double floor = 1e-8 * *std::max_element(sxx.begin(), sxx.end());
    const double referenceFloor = floor >= 1e-12 ? floor : 1e-12;
    TransferEstimate result;
    result.averages = static_cast<int>(segments);
    for (std::size_t k = 1; k < bins; ++k) {
        const double hz = rate * static_cast<double>(k) / static_cast<double>(length);
        if (!(hz >= 20 && hz <= 20000) || !(sxx[k] > referenceFloor) || !(syy[k] > 1e-12)) continue;
        const double coherence =
            std::clamp((sxyRe[k] * sxyRe[k] + sxyIm[k] * sxyIm[k]) / (sxx[k] * syy[k]), 0.0, 1.0);
        const TransferBin bin{static_cast<int>(k), hz, sxyRe[k] / sxx[k], sxyIm[k] / sxx[k], coherence};
        // Finite samples of absurd size can still overflow the sums; such an estimate means nothing.
        if (!std::isfinite(bin.real) || !std::isfinite(bin.imag) || !std::isfinite(bin.coherence)) return {};
        result.bins.push_back(bin);
    }
    return result;
}

}  // namespace TransferDSP

}  // namespace quorvel
