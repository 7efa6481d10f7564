#pragma once
// The measurements files of the store benchmarks: saved traces of 6820 bins (the live estimate's count
// at 48 kHz), each trace's values drawn from its own seed.
#include <cmath>
#include <fstream>
#include <string>

#include "dsp/TransferJSON.h"

namespace quorvel::bench {

constexpr int binCount = 6820;

inline TransferTrace sampleTrace(int index) {
    TransferTrace t;
    t.name = "Trace " + std::to_string(index + 1);
    const double seed = 0.001 * (index + 1);
    t.bins.reserve(binCount);
    for (int k = 1; k <= binCount; ++k)
        t.bins.push_back({k, 48000.0 * k / 16384, std::cos(seed * k) / 3, std::sin(seed * k) / 7,
                          0.5 + 0.49 * std::sin(seed + k)});
    return t;
}

// Writes a file of `count` traces trace by trace, so that this process never holds it whole; returns its
// size in bytes.
inline double writeTraces(const std::string& path, int count) {
    std::ofstream out(path, std::ios::binary);
    out << '[';
    for (int i = 0; i < count; ++i) {
        const std::string one = TransferJSON::encode({sampleTrace(i)}).value();  // "[{…}]"
        if (i) out << ',';
        out.write(one.data() + 1, std::streamsize(one.size() - 2));
    }
    out << ']';
    return double(out.tellp());
}

}  // namespace quorvel::bench
