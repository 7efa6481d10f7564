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

// Hann window with the symmetric denominator 16383, split into its even and odd samples the way the
// transform takes a segment; built once.
struct SplitWindow {
    std::vector<double> even, odd;
};
const SplitWindow& hannWindow() {
    static const SplitWindow window = [] {
        SplitWindow w;
        for (std::size_t i = 0; i < length; ++i)
            (i % 2 == 0 ? w.even : w.odd)
                .push_back(0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) /
                                                static_cast<double>(length - 1)));
        return w;
    }();
    return window;
}

bool allFinite(std::span<const double> values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

}  // namespace

namespace TransferDSP {

Workspace::Workspace()
    : transform_(length),
      xRe_(bins),
      xIm_(bins),
      yRe_(bins),
      yIm_(bins),
      sxx_(bins),
      syy_(bins),
      sxyRe_(bins),
      sxyIm_(bins) {}

TransferEstimate estimate(std::span<const double> mic, std::span<const double> reference, double rate,
                          double delayMS) {
    Workspace workspace;
    return estimate(workspace, mic, reference, rate, delayMS);
}

TransferEstimate estimate(Workspace& w, std::span<const double> mic, std::span<const double> reference,
                          double rate, double delayMS) {
    if (!(rate > 0) || !std::isfinite(rate) || !std::isfinite(delayMS)) return {};
    const double delaySamples = std::round(rate * delayMS / 1000.0);  // halves away from zero
    if (!(delaySamples >= 0) || delaySamples > static_cast<double>(mic.size())) return {};
    const std::size_t d = static_cast<std::size_t>(delaySamples);
    const std::size_t usable = std::min(mic.size() - d, reference.size());
    if (usable < minimumUsable) return {};

    const std::size_t segments = (usable - length) / hop + 1;
    const std::size_t span = (segments - 1) * hop + length;
    if (!allFinite(reference.first(span)) || !allFinite(mic.subspan(d, span))) return {};

    const SplitWindow& window = hannWindow();
    for (auto* sum : {&w.sxx_, &w.syy_, &w.sxyRe_, &w.sxyIm_}) std::fill(sum->begin(), sum->end(), 0.0);
    double *xr = w.xRe_.data(), *xi = w.xIm_.data(), *yr = w.yRe_.data(), *yi = w.yIm_.data();
    double *sxx = w.sxx_.data(), *syy = w.syy_.data(), *sxyRe = w.sxyRe_.data(), *sxyIm = w.sxyIm_.data();
    for (std::size_t segment = 0; segment < segments; ++segment) {
        const double* x = reference.data() + segment * hop;
        const double* y = mic.data() + segment * hop + d;
        for (std::size_t j = 0; j < bins; ++j) {
            xr[j] = x[2 * j] * window.even[j];
            xi[j] = x[2 * j + 1] * window.odd[j];
            yr[j] = y[2 * j] * window.even[j];
            yi[j] = y[2 * j + 1] * window.odd[j];
        }
        w.transform_.forward(xr, xi);
        w.transform_.forward(yr, yi);
        // Position 0 holds bins 0 and 8192, which are never used; every other position is one bin 1 … 8191.
        for (std::size_t p = 1; p < bins; ++p) {
            sxx[p] += xr[p] * xr[p] + xi[p] * xi[p];
            syy[p] += yr[p] * yr[p] + yi[p] * yi[p];
            sxyRe[p] += yr[p] * xr[p] + yi[p] * xi[p];
            sxyIm[p] += yi[p] * xr[p] - yr[p] * xi[p];
        }
    }

    const double floor = 1e-8 * *std::max_element(w.sxx_.begin(), w.sxx_.end());
    const double referenceFloor = floor >= 1e-12 ? floor : 1e-12;
    TransferEstimate result;
    result.averages = static_cast<int>(segments);
    result.bins.reserve(bins);
    for (std::size_t k = 1; k < bins; ++k) {
        const double hz = rate * static_cast<double>(k) / static_cast<double>(length);
        if (!(hz >= 20 && hz <= 20000)) continue;
        const std::size_t p = w.transform_.position(k);
        if (!(sxx[p] > referenceFloor) || !(syy[p] > 1e-12)) continue;
        const double coherence =
            std::clamp((sxyRe[p] * sxyRe[p] + sxyIm[p] * sxyIm[p]) / (sxx[p] * syy[p]), 0.0, 1.0);
        const TransferBin bin{static_cast<int>(k), hz, sxyRe[p] / sxx[p], sxyIm[p] / sxx[p], coherence};
        // Finite samples of absurd size can still overflow the sums; such an estimate means nothing.
        if (!std::isfinite(bin.real) || !std::isfinite(bin.imag) || !std::isfinite(bin.coherence)) return {};
        result.bins.push_back(bin);
    }
    return result;
}

}  // namespace TransferDSP

}  // namespace quorvel
