#pragma once
// The analysis done the plain way, the reference that analyze and estimate must match to rounding.
#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <vector>

#include "TextbookFFT.h"
#include "dsp/MeasurementDSP.h"
#include "dsp/TransferDSP.h"

namespace quorvel {

namespace TextbookAnalysis {

inline TransferEstimate estimate(std::span<const double> mic, std::span<const double> reference, double rate,
                                 double delayMS) {
    const std::size_t length = 16384, bins = 8192;
    const double d = std::round(rate * delayMS / 1000.0);
    if (d < 0 || mic.size() < static_cast<std::size_t>(d)) return {};
    const std::size_t shift = static_cast<std::size_t>(d);
    const std::size_t usable = std::min(mic.size() - shift, reference.size());
    if (usable < 2 * length) return {};
    std::vector<double> sxx(bins), syy(bins), sxyRe(bins), sxyIm(bins);
    TransferEstimate result;
    for (std::size_t start = 0; start + length <= usable; start += 8192, ++result.averages) {
        std::vector<double> xr(length), xi, yr(length), yi;
        for (std::size_t i = 0; i < length; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / 16383.0);
            xr[i] = reference[start + i] * w;
            yr[i] = mic[start + shift + i] * w;
        }
        (void)TextbookFFT::transform(xr, xi, false);
        (void)TextbookFFT::transform(yr, yi, false);
        for (std::size_t k = 1; k < bins; ++k) {
            sxx[k] += xr[k] * xr[k] + xi[k] * xi[k];
            syy[k] += yr[k] * yr[k] + yi[k] * yi[k];
            sxyRe[k] += yr[k] * xr[k] + yi[k] * xi[k];
            sxyIm[k] += yi[k] * xr[k] - yr[k] * xi[k];
        }
    }
    const double floor = 1e-8 * *std::max_element(sxx.begin(), sxx.end());
    for (std::size_t k = 1; k < bins; ++k) {
        const double hz = rate * static_cast<double>(k) / 16384.0;
        if (hz < 20 || hz > 20000 || !(sxx[k] > std::max(floor, 1e-12)) || !(syy[k] > 1e-12)) continue;
        const double coherence =
            std::clamp((sxyRe[k] * sxyRe[k] + sxyIm[k] * sxyIm[k]) / (sxx[k] * syy[k]), 0.0, 1.0);
        result.bins.push_back({static_cast<int>(k), hz, sxyRe[k] / sxx[k], sxyIm[k] / sxx[k], coherence});
    }
    return result;
}

// Finite input only.
inline AnalysisResult analyze(std::span<const double> mic, std::optional<std::span<const double>> reference,
                              double rate) {
    AnalysisResult result;
    const std::size_t n = mic.size();
    if (n < 4096) return result;
    std::vector<double> re(4096), im;
    double windowSum = 0;
    for (std::size_t i = 0; i < 4096; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / 4095.0);
        re[i] = mic[n - 4096 + i] * w;
        windowSum += w;
    }
    (void)TextbookFFT::transform(re, im, false);
    for (std::size_t k = 1; k < 2048; ++k)
        result.spectrum.push_back(
            {static_cast<int>(k), rate * static_cast<double>(k) / 4096.0,
             20.0 * std::log10(std::max(2.0 / windowSum * std::hypot(re[k], im[k]), 1e-9))});
    if (!reference || n < 16384 || reference->size() != n) return result;
    const std::span<const double> ref = *reference;

    double micMean = 0, refMean = 0;
    bool clipped = false;
    for (std::size_t i = 0; i < n; ++i) {
        micMean += mic[i], refMean += ref[i];
        clipped = clipped || std::fabs(mic[i]) >= 0.999 || std::fabs(ref[i]) >= 0.999;
    }
    micMean /= static_cast<double>(n), refMean /= static_cast<double>(n);
    std::size_t nfft = 1;
    while (nfft < 2 * n) nfft *= 2;
    std::vector<double> aRe(nfft), aIm, bRe(nfft), bIm;
    double micEnergy = 0, refEnergy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        aRe[i] = mic[i] - micMean, bRe[i] = ref[i] - refMean;
        micEnergy += aRe[i] * aRe[i], refEnergy += bRe[i] * bRe[i];
    }
    const double norm = std::sqrt(micEnergy * refEnergy);
    if (!(norm > 1e-6)) return result;
    (void)TextbookFFT::transform(aRe, aIm, false);
    (void)TextbookFFT::transform(bRe, bIm, false);
    std::vector<double> pRe(nfft), pIm(nfft);
    for (std::size_t k = 0; k < nfft; ++k) {
        pRe[k] = aRe[k] * bRe[k] + aIm[k] * bIm[k];
        pIm[k] = aIm[k] * bRe[k] - aRe[k] * bIm[k];
    }
    (void)TextbookFFT::transform(pRe, pIm, true);
    auto r = [&](std::size_t l) { return std::fabs(pRe[l]); };

    const std::size_t maxLag = static_cast<std::size_t>(
        std::min(static_cast<double>(n / 3), std::floor(rate * (MeasurementDSP::maxDelayMS / 1000.0))));
    std::size_t peak = 0;
    for (std::size_t l = 1; l <= maxLag; ++l)
        if (r(l) > r(peak)) peak = l;
    const double exclusion = std::max(std::floor(rate * 0.001), 4.0);
    double second = 0;
    for (std::size_t l = 1; maxLag >= 3 && l < maxLag; ++l) {
        const double distance = std::fabs(static_cast<double>(l) - static_cast<double>(peak));
        if (distance > exclusion && r(l - 1) <= r(l) && r(l + 1) < r(l)) second = std::max(second, r(l));
    }
    result.correlation = std::min(r(peak) / norm, 1.0);
    const bool edge = (peak == 0 && r(nfft - 1) >= r(0)) || (peak == maxLag && r(maxLag + 1) >= r(peak));
    if (clipped || edge || result.correlation < 0.25 || !(1.25 * second < r(peak))) return result;
    const double delay = static_cast<double>(peak) * 1000.0 / rate;
    TransferEstimate e = estimate(mic, ref, rate, delay);
    result.delayMS = result.compensationMS = delay;
    result.transfer = std::move(e.bins);
    result.averages = e.averages;
    return result;
}

}  // namespace TextbookAnalysis

}  // namespace quorvel
