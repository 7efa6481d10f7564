#pragma once
// Test signals shared by the layers' tests, and the reading of an analyser spectrum.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "dsp/MeasurementDSP.h"

namespace quorvel {

namespace TestSignals {

// Uniform noise in ±0.3 hashed from the frame number (splitmix64), so any stretch replays or delays exactly.
inline float noise(std::int64_t frame) {
    std::uint64_t z = static_cast<std::uint64_t>(frame) + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<float>((static_cast<double>(z >> 11) / 9007199254740992.0 * 2.0 - 1.0) * 0.3);
}

// The bin of the strongest point; -1 for an empty spectrum.
inline int peakBin(const std::vector<SpectrumPoint>& spectrum) {
    auto it = std::max_element(spectrum.begin(), spectrum.end(),
                               [](const SpectrumPoint& a, const SpectrumPoint& b) { return a.db < b.db; });
    return it == spectrum.end() ? -1 : it->id;
}

}  // namespace TestSignals

}  // namespace quorvel
