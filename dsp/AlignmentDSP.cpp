#include "dsp/AlignmentDSP.h"

#include <cmath>
#include <complex>
#include <limits>
#include <unordered_map>

namespace quorvel {

namespace AlignmentDSP {

bool compatible(const TransferTrace& a, const TransferTrace& b) {
    return a.hardwareIdentity == b.hardwareIdentity && a.id != b.id && a.sampleRate == b.sampleRate &&
           a.micChannel == b.micChannel && a.referenceChannel == b.referenceChannel &&
           a.position == b.position && a.setupID == b.setupID && a.averages >= 3 && b.averages >= 3;
}

std::optional<AlignmentProposal> arrival(const TransferTrace& a, const TransferTrace& b) {
    if (!compatible(a, b)) return std::nullopt;
    const double diff = b.arrivalMS - a.arrivalMS;
    return AlignmentProposal{diff >= 0 ? a.name : b.name, std::abs(diff), false, 0, 0, arrivalNote};
}

TransferBin withCompensation(const TransferBin& bin, double compensationMS) {
    const std::complex<double> h = std::complex<double>(bin.real, bin.imag) *
                                   std::polar(1.0, -2.0 * M_PI * bin.hz * compensationMS / 1000.0);
    TransferBin out = bin;
    out.real = h.real();
    out.imag = h.imag();
    return out;
}

std::vector<TransferBin> withCompensation(const TransferTrace& trace) {
    std::vector<TransferBin> out;
    out.reserve(trace.bins.size());
    for (const TransferBin& bin : trace.bins) out.push_back(withCompensation(bin, trace.compensationMS));
    return out;
}

namespace {

struct Pair {
    double hz;
    std::complex<double> a;  // main, with its compensation put back
    std::complex<double> b;  // sub, likewise
    double weight;
    double denominator;  // max((|A| + |B|)², 1e−12): the sum at perfect phase, whatever the delay
};

std::complex<double> restored(const TransferBin& bin, double compensationMS) {
    const TransferBin out = withCompensation(bin, compensationMS);
    return {out.real, out.imag};
}

}  // namespace

std::optional<AlignmentProposal> sub(const TransferTrace& main, const TransferTrace& sub, double low,
                                     double high, double threshold) {
    if (!compatible(main, sub)) return std::nullopt;
    if (!(low >= 20 && low < high && high <= 500)) return std::nullopt;  // also refuses NaN limits

    std::unordered_map<int, const TransferBin*> subBins;
    subBins.reserve(sub.bins.size());
    for (const TransferBin& q : sub.bins) subBins.emplace(q.id, &q);  // keeps the first bin of an id

    std::vector<Pair> pairs;
    for (const TransferBin& p : main.bins) {
        if (!(p.hz >= low && p.hz <= high && p.coherence >= threshold)) continue;
        const auto found = subBins.find(p.id);
        if (found == subBins.end()) continue;
        const TransferBin& q = *found->second;
        if (!(q.coherence >= threshold)) continue;
        if (!(std::abs(p.magnitudeDB() - q.magnitudeDB()) <= 10.0)) continue;
        const std::complex<double> a = restored(p, main.compensationMS), b = restored(q, sub.compensationMS);
        const double peak = std::abs(a) + std::abs(b);
        pairs.push_back(
            {p.hz, a, b, std::min(p.coherence, q.coherence) / p.hz, std::max(peak * peak, 1e-12)});
    }
    if (pairs.size() < 6) return std::nullopt;
    const double span = pairs.back().hz - pairs.front().hz;
    if (!(span >= 0.6 * (high - low))) return std::nullopt;

    double weightSum = 0;
    for (const Pair& pair : pairs) weightSum += pair.weight;
    const double norm = std::max(weightSum, 1e-12);

    const double tau0 = main.arrivalMS - sub.arrivalMS;
    double best = -std::numeric_limits<double>::infinity();
    double bestTau = 0;
    bool invert = false;
    // ±15 ms: a sub's stored arrival is its correlation peak, which trails the acoustic arrival by the
    // low-pass's group delay (near 6 ms for a fourth-order crossover at 80 Hz, 8 ms at 60 Hz).
    for (int i = -750; i <= 750; ++i) {
        const double tau = tau0 + 0.02 * i;
        if (std::abs(tau) > 100) continue;
        double sumPlus = 0, sumMinus = 0;
        for (const Pair& pair : pairs) {
            const std::complex<double> bt = pair.b * std::polar(1.0, -2.0 * M_PI * pair.hz * tau / 1000.0);
            sumPlus += pair.weight * std::norm(pair.a + bt) / pair.denominator;
            sumMinus += pair.weight * std::norm(pair.a - bt) / pair.denominator;
        }
        const double plus = sumPlus / norm, minus = sumMinus / norm;
        // Strict comparisons: the lowest tau reaching a maximum keeps it, and normal polarity wins a tie.
        if (plus > best) best = plus, bestTau = tau, invert = false;
        if (minus > best) best = minus, bestTau = tau, invert = true;
    }
    if (!std::isfinite(best) || best < 0.7) return std::nullopt;

    // tau0 + 0.02·i can land a hair beside an exact zero (0.7 − 0.02·35 = −1e-16), which would name the
    // wrong loudspeaker for a 0 ms delay; no processor resolves a nanosecond, so round before the sign test.
    const double tau = std::round(bestTau * 1e9) / 1e9;
    return AlignmentProposal{tau >= 0 ? sub.name : main.name, std::abs(tau), invert, best,
                             static_cast<int>(pairs.size()),  subNote};
}

}  // namespace AlignmentDSP

}  // namespace quorvel
