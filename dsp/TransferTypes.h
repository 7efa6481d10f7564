#pragma once
// Transfer-measurement records: one bin of an estimate, a saved named trace, and an alignment proposal.
// Plain values; copies are independent. The JSON coding of bins and traces is in TransferJSON.h.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "platform/Uuid.h"

namespace quorvel {

// One bin of a transfer-function estimate: H = mic / reference at FFT bin `id` of the 16384-point analysis.
struct TransferBin {
    int id = 0;            // FFT bin index k (1 … 8191); unique within one trace
    double hz = 0;         // rate·k/16384
    double real = 0;       // Re H (linear)
    double imag = 0;       // Im H
    double coherence = 0;  // magnitude-squared coherence, 0 … 1

    // 20·log10(max(|H|, 1e-12)): never below −240 dB.
    double magnitudeDB() const { return 20.0 * std::log10(std::max(std::hypot(real, imag), 1e-12)); }
    // atan2(imag, real) in degrees, −180 … 180 (imag −0.0 with real < 0 gives −180).
    double phaseDegrees() const { return std::atan2(imag, real) * 180.0 / M_PI; }

    bool operator==(const TransferBin&) const = default;
};

// Seconds since 2001-01-01 00:00:00 UTC: the time base of stored dates.
using ReferenceDate = double;
// The current time as seconds since 2001-01-01 UTC.
inline ReferenceDate referenceDateNow() {
    using namespace std::chrono;
    const double unix = duration<double>(system_clock::now().time_since_epoch()).count();
    return unix - 978307200.0;
}

// One saved, named transfer measurement with its capture conditions.
struct TransferTrace {
    Uuid id = Uuid::generate();
    std::string name;
    ReferenceDate captured = referenceDateNow();
    double sampleRate = 0;          // Hz
    double compensationMS = 0;      // delay taken out of the mic signal before the estimate
    double arrivalMS = 0;           // reference-to-mic arrival delay at capture
    int micChannel = 0;             // 0-based input channel
    int referenceChannel = 0;       // 0-based input channel
    std::vector<TransferBin> bins;  // increasing id
    int averages = 0;
    std::string position = "Listener position";
    std::string setupID = "Default setup";
    std::string hardwareIdentity;

    bool operator==(const TransferTrace&) const = default;
};

// An alignment suggestion derived from two traces; never stored.
struct AlignmentProposal {
    std::string target;           // name of the trace whose loudspeaker gets the delay
    double delayMS = 0;           // never negative
    bool invertPolarity = false;  // invert the second trace's loudspeaker (the sub)
    double score = 0;
    int usableBins = 0;
    std::string note;

    bool operator==(const AlignmentProposal&) const = default;
};

}  // namespace quorvel
