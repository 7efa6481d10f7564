// The sub alignment search at its largest: a 20…500 Hz band at 48 kHz (164 bin pairs), 1501 delays, both
// polarities. The Alignment screen runs it on the main thread, so it should stay well inside one frame.
#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>

#include "dsp/AlignmentDSP.h"

using namespace quorvel;

namespace {

TransferTrace trace(const char* name, double delayMS, double sign) {
    TransferTrace t;
    t.name = name;
    t.sampleRate = 48000;
    t.averages = 8;
    t.arrivalMS = 10 + delayMS;
    for (int k = 1; k < 8192; ++k) {
        const double hz = 48000.0 * k / 16384;
        if (hz < 20 || hz > 20000) continue;
        const auto h =
            sign * std::polar(1.0 / std::sqrt(1 + hz * hz / 6400), -2 * M_PI * hz * (10 + delayMS) / 1000);
        t.bins.push_back({k, hz, h.real(), h.imag(), 0.95});
    }
    return t;
}

void subSearch(benchmark::State& state) {
    const TransferTrace main = trace("Main", 0, 1), sub = trace("Sub", 1.3, -1);
    int pairs = 0;
    for (auto _ : state) {
        auto proposal = AlignmentDSP::sub(main, sub, 20, 500);
        pairs = proposal ? proposal->usableBins : 0;
        benchmark::DoNotOptimize(proposal);
    }
    state.counters["pairs"] = pairs;
}
BENCHMARK(subSearch)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
