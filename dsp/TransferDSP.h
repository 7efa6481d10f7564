#pragma once
// Welch-averaged H1 transfer estimate from the electrical reference to the microphone, with
// magnitude-squared coherence. Stateless; any thread.
#include <span>
#include <vector>

#include "dsp/RealFFT.h"
#include "dsp/TransferTypes.h"

namespace quorvel {

struct TransferEstimate {
    std::vector<TransferBin> bins;  // increasing id
    int averages = 0;               // number of 16384-sample segments behind the bins

    bool operator==(const TransferEstimate&) const = default;
};

namespace TransferDSP {

// Segment length and hop of the estimate, in samples.
inline constexpr int segmentLength = 16384;
inline constexpr int segmentHop = 8192;

// The segment transform and the buffers of one estimate, made once and reused by every call that is
// given them (about 0.8 MB). One call at a time per workspace; any thread.
class Workspace {
public:
    Workspace();

private:
    friend TransferEstimate estimate(Workspace&, std::span<const double>, std::span<const double>, double,
                                     double);
    RealFFT transform_;
    std::vector<double> xRe_, xIm_, yRe_, yIm_;      // one segment of each signal, then its spectrum
    std::vector<double> sxx_, syy_, sxyRe_, sxyIm_;  // sums by spectrum position (RealFFT::position)
};

// H = Sxy/Sxx with Sxy = Σ Y·conj(X) over Hann-windowed (0.5 − 0.5·cos(2πi/16383)), half-overlapping
// 16384-sample segments; X from `reference`, Y from `mic` taken d = round(rate·delayMS/1000) samples
// later, so the phase is relative to the arrival. Keeps bins k = 1 … 8191 with 20 ≤ rate·k/16384 ≤ 20000,
// reference energy above max(1e−8 of its largest bin, 1e−12) and microphone energy above 1e−12;
// coherence is clamped to 0 … 1.
// The empty result (no bins, 0 averages) for fewer than 32768 usable samples (min(mic − d, reference)),
// a negative d, a rate or delay that is not finite or a rate not above 0, or a non-finite sample in the
// part of either array the segments read.
TransferEstimate estimate(Workspace& workspace, std::span<const double> mic,
                          std::span<const double> reference, double rate, double delayMS);

// The same with a workspace of its own.
TransferEstimate estimate(std::span<const double> mic, std::span<const double> reference, double rate,
                          double delayMS);

}  // namespace TransferDSP

}  // namespace quorvel
