#pragma once
// Alignment proposals from two saved transfer traces: the arrival-time difference of two full-range
// loudspeakers, or the delay and polarity that best sum a sub with a main inside a low-frequency band.
// Stateless and pure; any thread. Delays in ms, frequencies in Hz.
#include <optional>
#include <vector>

#include "dsp/TransferTypes.h"

namespace quorvel {

namespace AlignmentDSP {

// True only when the two traces were captured with the same hardware, inputs, rate, position and setup,
// are two different traces, and each averages at least 3 segments.
bool compatible(const TransferTrace& a, const TransferTrace& b);

// Delays the loudspeaker that arrives first by the difference of the two arrival times (b − a ≥ 0 names
// a). Nothing when the traces are not compatible.
std::optional<AlignmentProposal> arrival(const TransferTrace& a, const TransferTrace& b);

// A bin with the delay taken out of the microphone at capture put back into its phase: H times
// e^(−i·2π·hz·compensationMS/1000). Magnitude, coherence, id and hz are unchanged.
TransferBin withCompensation(const TransferBin& bin, double compensationMS);
// Every bin of `trace` with the trace's own compensation put back (what a phase view of it shows).
std::vector<TransferBin> withCompensation(const TransferTrace& trace);

// Searches ±15 ms around the arrival difference in 0.02 ms steps (never beyond ±100 ms) and both
// polarities of `sub` for the best coherence-weighted summation with `main` over the bins in
// [low, high] Hz. Requires 20 ≤ low < high ≤ 500, at least 6 bin pairs that pass `threshold` on both
// traces and lie within 10 dB of each other, covering at least 60 % of the band, and a best score of
// 0.7. Bins are paired by id; should `sub` hold an id twice, its first bin of that id is used.
std::optional<AlignmentProposal> sub(const TransferTrace& main, const TransferTrace& sub, double low,
                                     double high, double threshold = 0.8);

inline constexpr const char* arrivalNote =
    "Arrival-time starting point. Apply externally, then capture both together to verify.";
inline constexpr const char* subNote =
    "Polarity candidate applies to the SUB trace. Delay applies to the named target. Predicted result at "
    "this "
    "mic position; verify a fresh combined capture before accepting.";

}  // namespace AlignmentDSP

}  // namespace quorvel
