#pragma once
// The analysis of one captured block: the dBFS spectrum of the newest 4096 microphone samples and, with
// an electrical reference, the arrival delay of the microphone behind the reference, the normalised
// correlation peak and the transfer estimate of TransferDSP.
// Besides read-only tables built once (the window, the FFT twiddles), the functions keep nothing between
// calls but what the caller's Workspace holds; any thread may call them, one at a time per workspace.
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "dsp/TransferDSP.h"
#include "dsp/TransferTypes.h"

namespace quorvel {

// One point of a spectrum. In the analyser spectrum `id` is the bin k (1 … 2047) of a 4096-point FFT;
// screens also build points with a band index here.
struct SpectrumPoint {
    int id = 0;
    double hz = 0;  // rate·k/4096 for analyser points
    double db = 0;  // dBFS, never below −180 for analyser points

    bool operator==(const SpectrumPoint&) const = default;
};

// One analysis of the capture buffers.
struct AnalysisResult {
    std::vector<SpectrumPoint> spectrum;  // 2047 points, or empty when the block is too short
    std::optional<double> delayMS;        // arrival delay of mic behind reference; absent when untrusted
    double correlation = 0;               // normalised correlation peak 0 … 1, given even when rejected
    std::vector<TransferBin> transfer;    // only with an accepted delay
    int averages = 0;                     // segments averaged behind `transfer`
    double compensationMS = 0;            // delay taken out of the mic before the estimate; delayMS or 0

    bool operator==(const AnalysisResult&) const = default;
};

namespace MeasurementDSP {

// The longest arrival delay the delay finder searches for.
inline constexpr int maxDelayMS = 250;

// The transforms and buffers of analyze, made for the block length of the first call and reused by later
// calls of that length (another length remakes them), so that a running analysis allocates nothing but
// its results. For 131072-sample blocks they take about 9 MB. One call at a time per workspace; any
// thread.
class Workspace {
public:
    Workspace();
    ~Workspace();

private:
    friend AnalysisResult analyze(Workspace&, std::span<const double>, std::optional<std::span<const double>>,
                                  double);
    struct Correlation;
    std::vector<double> spectrumRe_, spectrumIm_;
    std::unique_ptr<Correlation> correlation_;
    TransferDSP::Workspace transfer_;
};

// Analyses one block. `mic`: samples at full scale ±1; `reference`: the reference input over the same
// time span, or nullopt; `rate`: capture rate in Hz.
// - Fewer than 4096 mic samples, or a rate that is not positive and finite: the empty result.
// - Spectrum: Hann window (0.5 − 0.5·cos(2πi/4095)) over the last 4096 mic samples, levels
//   20·log10(max(2/Σw·|X[k]|, 1e−9)) for k = 1 … 2047; a window holding a non-finite sample reads
//   −180 dB at every point.
// - Delay: only with a reference of exactly as many samples as the mic and at least 16384 of them.
//   The largest normalised cross-correlation over lags 0 … min(N/3, maxDelayMS) is accepted when it is at
//   least 0.25 and more than 1.25 times every other local maximum farther than max(1 ms, 4 samples)
//   away, and is a true peak: at lag 0 above lag −1 and at the last lag above the next one (else the
//   peak lies outside the range and no delay is given). A sample with magnitude ≥ 0.999 in either
//   array rejects the delay but keeps the correlation; a non-finite sample rejects it with correlation
//   0. With an accepted delay, `transfer` and `averages` come from TransferDSP::estimate over the whole
//   arrays.
// Every number equals that of the same steps done with complex transforms to rounding: within 1e-12
// relative, levels within 1e-9 dB, the same delay.
AnalysisResult analyze(Workspace& workspace, std::span<const double> mic,
                       std::optional<std::span<const double>> reference, double rate);

// The same with a workspace of its own.
AnalysisResult analyze(std::span<const double> mic, std::optional<std::span<const double>> reference,
                       double rate);

}  // namespace MeasurementDSP

}  // namespace quorvel
