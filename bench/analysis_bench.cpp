// Speed of the analysis core: the FFT against FFTW and against the plain per-butterfly form, the live
// analysis with a microphone only and with a reference, and the transfer estimate. Prints the ratios
// after the table. Run single-threaded (the analysis runs on one background thread in the product).
#include <benchmark/benchmark.h>
#include <fftw3.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "../tests/dsp/TextbookFFT.h"
#include "dsp/MeasurementDSP.h"
#include "dsp/TransferDSP.h"

using namespace quorvel;

namespace {

std::vector<double> noise(std::size_t n, unsigned seed, double amplitude = 0.5) {
    std::mt19937_64 engine(seed);
    std::uniform_real_distribution<double> uniform(-amplitude, amplitude);
    std::vector<double> v(n);
    for (auto& x : v) x = uniform(engine);
    return v;
}

// A reference of noise and a microphone that hears it 10 ms later through a mild filter, so that the
// delay is accepted and the transfer estimate runs.
struct Capture {
    std::vector<double> mic, reference;
};
Capture capture(std::size_t n) {
    Capture c;
    c.reference = noise(n, 7);
    c.mic.assign(n, 0.0);
    for (std::size_t i = 480; i < n; ++i) c.mic[i] = 0.6 * c.reference[i - 480] + 0.2 * c.reference[i - 481];
    return c;
}

template <MeasurementDSP::Transform transform>
void fftUsing(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const std::vector<double> inRe = noise(n, 1), inIm = noise(n, 2);
    std::vector<double> re(n), im(n);
    for (auto _ : state) {
        re = inRe;  // the transform works in place; the copy is counted against it
        im = inIm;
        (void)transform(re, im, false);
        benchmark::DoNotOptimize(re.data());
        benchmark::DoNotOptimize(im.data());
    }
}

void fftOurs(benchmark::State& state) { fftUsing<MeasurementDSP::fft>(state); }
void fftTextbook(benchmark::State& state) { fftUsing<TextbookFFT::transform>(state); }

void fftFFTW(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    fftw_complex* in = fftw_alloc_complex(static_cast<std::size_t>(n));
    fftw_complex* out = fftw_alloc_complex(static_cast<std::size_t>(n));
    fftw_plan plan = fftw_plan_dft_1d(n, in, out, FFTW_FORWARD, FFTW_MEASURE);
    const std::vector<double> re = noise(static_cast<std::size_t>(n), 1),
                              im = noise(static_cast<std::size_t>(n), 2);
    for (int i = 0; i < n; ++i) {
        in[i][0] = re[static_cast<std::size_t>(i)];
        in[i][1] = im[static_cast<std::size_t>(i)];
    }
    for (auto _ : state) {
        fftw_execute(plan);  // out of place: the input survives
        benchmark::DoNotOptimize(out);
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}

void analyzeMicOnly(benchmark::State& state) {
    const std::vector<double> mic = noise(4096, 3);
    for (auto _ : state) benchmark::DoNotOptimize(MeasurementDSP::analyze(mic, std::nullopt, 48000));
}

template <MeasurementDSP::Transform transform>
void analyzeDualUsing(benchmark::State& state) {
    const Capture c = capture(131072);
    for (auto _ : state) {
        AnalysisResult result = MeasurementDSP::analyzeUsing(transform, c.mic, c.reference, 48000);
        if (!result.delayMS) state.SkipWithError("delay not accepted");
        benchmark::DoNotOptimize(result);
    }
}
void analyzeDual(benchmark::State& state) { analyzeDualUsing<MeasurementDSP::fft>(state); }
void analyzeDualTextbook(benchmark::State& state) { analyzeDualUsing<TextbookFFT::transform>(state); }

void estimate(benchmark::State& state) {
    const Capture c = capture(131072);
    for (auto _ : state) benchmark::DoNotOptimize(TransferDSP::estimate(c.mic, c.reference, 48000, 10.0));
}

BENCHMARK(fftOurs)->Arg(4096)->Arg(16384)->Arg(262144)->Unit(benchmark::kMicrosecond);
BENCHMARK(fftFFTW)->Arg(4096)->Arg(16384)->Arg(262144)->Unit(benchmark::kMicrosecond);
BENCHMARK(fftTextbook)->Arg(4096)->Arg(16384)->Arg(262144)->Unit(benchmark::kMicrosecond);
BENCHMARK(analyzeMicOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(analyzeDual)->Unit(benchmark::kMillisecond);
BENCHMARK(analyzeDualTextbook)->Unit(benchmark::kMillisecond);
BENCHMARK(estimate)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's time per iteration (ns of real time) beside the usual console table.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    RecordingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_None) {}
    std::map<std::string, double> nanoseconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                nanoseconds[run.benchmark_name()] =
                    run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto& t = reporter.nanoseconds;
    auto ratio = [&](const std::string& a, const std::string& b, const char* label, const char* target) {
        if (!t.count(a) || !t.count(b)) return;
        std::printf("  %-46s %8.2f   %s\n", label, t.at(a) / t.at(b), target);
    };
    std::printf("\nanalysis ratios\n");
    for (const char* n : {"4096", "16384", "262144"}) {
        const std::string ours = std::string("fftOurs/") + n, fftw = std::string("fftFFTW/") + n,
                          textbook = std::string("fftTextbook/") + n;
        const std::string size = n;
        ratio(ours, fftw, ("fft " + size + ": ours / FFTW").c_str(), size == "4096" ? "" : "(target <= 6)");
        ratio(textbook, fftw, ("fft " + size + ": textbook / FFTW").c_str(), "");
        ratio(textbook, ours, ("fft " + size + ": textbook / ours").c_str(), "");
    }
    ratio("analyzeDualTextbook", "analyzeDual", "dual analyze: textbook FFT / ours", "(target >= 8)");
    if (t.count("analyzeDual"))
        std::printf("  %-46s %8.2f   (target < 21 ms)\n", "dual analyze, 131072 samples at 48 kHz: ms",
                    t.at("analyzeDual") / 1e6);
    if (t.count("analyzeMicOnly"))
        std::printf("  %-46s %8.3f\n", "mic-only analyze, 4096 samples: ms", t.at("analyzeMicOnly") / 1e6);
    if (t.count("estimate"))
        std::printf("  %-46s %8.2f\n", "estimate, 131072 samples: ms", t.at("estimate") / 1e6);
    return 0;
}
