// Speed of the analysis: the FFTs, and the live analysis against the same steps done with FFTW's
// real-input transforms (planned and allocated once), at 48 kHz and 192 kHz, plus the microphone-only
// analysis and the transfer estimate. Prints the ratios after the table. Run single-threaded (the
// analysis runs on one background thread in the product). Each benchmark runs five times unless
// --benchmark_repetitions says otherwise; a ratio is the median of the ratios of the runs paired in
// order (the first of one over the first of the other, and so on), so that a spell of load on a shared
// machine spoils a pair, not the summary.
#include <benchmark/benchmark.h>
#include <fftw3.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dsp/ComplexFFT.h"
#include "dsp/MeasurementDSP.h"
#include "dsp/RealFFT.h"
#include "dsp/TransferDSP.h"
#include "tests/dsp/TextbookAnalysis.h"
#include "tests/dsp/TextbookFFT.h"

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
Capture capture(std::size_t n, double rate) {
    Capture c;
    c.reference = noise(n, 7);
    c.mic.assign(n, 0.0);
    const auto d = static_cast<std::size_t>(rate / 100);
    for (std::size_t i = d + 1; i < n; ++i)
        c.mic[i] = 0.6 * c.reference[i - d] + 0.2 * c.reference[i - d - 1];
    return c;
}

// The peer: the analysis's steps with FFTW's r2c and c2r transforms.
class FFTWAnalysis {
public:
    explicit FFTWAnalysis(std::size_t n) : n_(n) {
        while (nfft_ < 2 * n) nfft_ *= 2;
        spectrumIn_ = fftw_alloc_real(4096);
        a_ = fftw_alloc_real(nfft_);
        b_ = fftw_alloc_real(nfft_);
        x_ = fftw_alloc_real(16384);
        y_ = fftw_alloc_real(16384);
        spectrumOut_ = fftw_alloc_complex(2049);
        aSpectrum_ = fftw_alloc_complex(nfft_ / 2 + 1);
        bSpectrum_ = fftw_alloc_complex(nfft_ / 2 + 1);
        xSpectrum_ = fftw_alloc_complex(8193);
        ySpectrum_ = fftw_alloc_complex(8193);
        const int nf = static_cast<int>(nfft_);
        plans_[0] = fftw_plan_dft_r2c_1d(4096, spectrumIn_, spectrumOut_, FFTW_MEASURE);
        plans_[1] = fftw_plan_dft_r2c_1d(nf, a_, aSpectrum_, FFTW_MEASURE);
        plans_[2] = fftw_plan_dft_r2c_1d(nf, b_, bSpectrum_, FFTW_MEASURE);
        plans_[3] = fftw_plan_dft_c2r_1d(nf, aSpectrum_, a_, FFTW_MEASURE);
        plans_[4] = fftw_plan_dft_r2c_1d(16384, x_, xSpectrum_, FFTW_MEASURE);
        plans_[5] = fftw_plan_dft_r2c_1d(16384, y_, ySpectrum_, FFTW_MEASURE);
        for (std::size_t i = 0; i < 4096; ++i)
            window4096_.push_back(0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / 4095.0));
        for (std::size_t i = 0; i < 16384; ++i)
            window16384_.push_back(0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / 16383.0));
    }
    ~FFTWAnalysis() {
        for (fftw_plan p : plans_) fftw_destroy_plan(p);
        for (double* p : {spectrumIn_, a_, b_, x_, y_}) fftw_free(p);
        for (fftw_complex* p : {spectrumOut_, aSpectrum_, bSpectrum_, xSpectrum_, ySpectrum_}) fftw_free(p);
    }
    FFTWAnalysis(const FFTWAnalysis&) = delete;
    FFTWAnalysis& operator=(const FFTWAnalysis&) = delete;

    AnalysisResult analyze(const std::vector<double>& mic, const std::vector<double>& ref, double rate) {
        AnalysisResult result;
        double windowSum = 0;
        for (std::size_t i = 0; i < 4096; ++i) {
            spectrumIn_[i] = mic[n_ - 4096 + i] * window4096_[i];
            windowSum += window4096_[i];
        }
        fftw_execute(plans_[0]);
        result.spectrum.reserve(2047);
        for (std::size_t k = 1; k < 2048; ++k) {
            const double level = 2 / windowSum * std::hypot(spectrumOut_[k][0], spectrumOut_[k][1]);
            result.spectrum.push_back({static_cast<int>(k), rate * static_cast<double>(k) / 4096,
                                       20 * std::log10(std::max(level, 1e-9))});
        }
        bool clipped = false;
        double micMean = 0, refMean = 0;
        for (std::size_t i = 0; i < n_; ++i) {
            if (!std::isfinite(mic[i]) || !std::isfinite(ref[i])) return result;
            clipped = clipped || std::fabs(mic[i]) >= 0.999 || std::fabs(ref[i]) >= 0.999;
            micMean += mic[i], refMean += ref[i];
        }
        micMean /= static_cast<double>(n_), refMean /= static_cast<double>(n_);
        double micEnergy = 0, refEnergy = 0;
        for (std::size_t i = 0; i < nfft_; ++i) {
            a_[i] = i < n_ ? mic[i] - micMean : 0;
            b_[i] = i < n_ ? ref[i] - refMean : 0;
            micEnergy += a_[i] * a_[i], refEnergy += b_[i] * b_[i];
        }
        const double norm = std::sqrt(micEnergy * refEnergy);
        if (!(norm > 1e-6)) return result;
        fftw_execute(plans_[1]);
        fftw_execute(plans_[2]);
        for (std::size_t k = 0; k <= nfft_ / 2; ++k) {
            const double ar = aSpectrum_[k][0], ai = aSpectrum_[k][1], br = bSpectrum_[k][0],
                         bi = bSpectrum_[k][1];
            aSpectrum_[k][0] = ar * br + ai * bi;
            aSpectrum_[k][1] = ai * br - ar * bi;
        }
        fftw_execute(plans_[3]);  // unscaled: nfft·r
        const double scale = 1.0 / static_cast<double>(nfft_);
        auto r = [&](std::size_t l) { return std::fabs(a_[l] * scale); };
        const auto maxLag = static_cast<std::size_t>(
            std::min(static_cast<double>(n_ / 3), std::floor(rate * (MeasurementDSP::maxDelayMS / 1000.0))));
        std::size_t peak = 0;
        for (std::size_t l = 1; l <= maxLag; ++l)
            if (r(l) > r(peak)) peak = l;
        const double exclusion = std::max(std::floor(rate * 0.001), 4.0);
        double second = 0;
        for (std::size_t l = 1; l < maxLag; ++l)
            if (std::fabs(static_cast<double>(l) - static_cast<double>(peak)) > exclusion &&
                r(l - 1) <= r(l) && r(l + 1) < r(l))
                second = std::max(second, r(l));
        result.correlation = std::min(r(peak) / norm, 1.0);
        const bool edge = (peak == 0 && r(nfft_ - 1) >= r(0)) || (peak == maxLag && r(maxLag + 1) >= r(peak));
        if (clipped || edge || result.correlation < 0.25 || !(1.25 * second < r(peak))) return result;
        result.delayMS = result.compensationMS = static_cast<double>(peak) * 1000 / rate;
        estimate(mic, ref, rate, peak, result);
        return result;
    }

private:
    void estimate(const std::vector<double>& mic, const std::vector<double>& ref, double rate, std::size_t d,
                  AnalysisResult& result) {
        const std::size_t usable = std::min(mic.size() - d, ref.size());
        if (usable < 32768) return;
        std::fill(sxx_.begin(), sxx_.end(), 0.0), std::fill(syy_.begin(), syy_.end(), 0.0);
        std::fill(sxyRe_.begin(), sxyRe_.end(), 0.0), std::fill(sxyIm_.begin(), sxyIm_.end(), 0.0);
        for (std::size_t start = 0; start + 16384 <= usable; start += 8192, ++result.averages) {
            for (std::size_t i = 0; i < 16384; ++i) {
                x_[i] = ref[start + i] * window16384_[i];
                y_[i] = mic[start + d + i] * window16384_[i];
            }
            fftw_execute(plans_[4]);
            fftw_execute(plans_[5]);
            for (std::size_t k = 1; k < 8192; ++k) {
                const double xr = xSpectrum_[k][0], xi = xSpectrum_[k][1], yr = ySpectrum_[k][0],
                             yi = ySpectrum_[k][1];
                sxx_[k] += xr * xr + xi * xi;
                syy_[k] += yr * yr + yi * yi;
                sxyRe_[k] += yr * xr + yi * xi;
                sxyIm_[k] += yi * xr - yr * xi;
            }
        }
        const double floor = std::max(1e-8 * *std::max_element(sxx_.begin(), sxx_.end()), 1e-12);
        result.transfer.reserve(8192);
        for (std::size_t k = 1; k < 8192; ++k) {
            const double hz = rate * static_cast<double>(k) / 16384;
            if (hz < 20 || hz > 20000 || !(sxx_[k] > floor) || !(syy_[k] > 1e-12)) continue;
            const double coherence =
                std::clamp((sxyRe_[k] * sxyRe_[k] + sxyIm_[k] * sxyIm_[k]) / (sxx_[k] * syy_[k]), 0.0, 1.0);
            result.transfer.push_back(
                {static_cast<int>(k), hz, sxyRe_[k] / sxx_[k], sxyIm_[k] / sxx_[k], coherence});
        }
    }

    std::size_t n_, nfft_ = 1;
    double *spectrumIn_, *a_, *b_, *x_, *y_;
    fftw_complex *spectrumOut_, *aSpectrum_, *bSpectrum_, *xSpectrum_, *ySpectrum_;
    fftw_plan plans_[6];
    std::vector<double> window4096_, window16384_;
    std::vector<double> sxx_ = std::vector<double>(8192), syy_ = sxx_, sxyRe_ = sxx_, sxyIm_ = sxx_;
};

template <Status (*transform)(std::vector<double>&, std::vector<double>&, bool)>
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
void fftOurs(benchmark::State& state) { fftUsing<ComplexFFT::transform>(state); }
void fftTextbook(benchmark::State& state) { fftUsing<TextbookFFT::transform>(state); }

void fftFFTW(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    fftw_complex* in = fftw_alloc_complex(static_cast<std::size_t>(n));
    fftw_complex* out = fftw_alloc_complex(static_cast<std::size_t>(n));
    fftw_plan plan = fftw_plan_dft_1d(n, in, out, FFTW_FORWARD, FFTW_MEASURE);
    const std::vector<double> re = noise(static_cast<std::size_t>(n), 1),
                              im = noise(static_cast<std::size_t>(n), 2);
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) in[i][0] = re[i], in[i][1] = im[i];
    for (auto _ : state) {
        fftw_execute(plan);  // out of place: the input survives
        benchmark::DoNotOptimize(out);
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}

void realFFT(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const RealFFT transform(n);
    const std::vector<double> in = noise(n, 1);
    std::vector<double> re(n / 2), im(n / 2);
    for (auto _ : state) {
        for (std::size_t j = 0; j < n / 2; ++j) re[j] = in[2 * j], im[j] = in[2 * j + 1];
        transform.forward(re.data(), im.data());
        benchmark::DoNotOptimize(re.data());
        benchmark::DoNotOptimize(im.data());
    }
}

void realFFTW(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    double* in = fftw_alloc_real(static_cast<std::size_t>(n));
    fftw_complex* out = fftw_alloc_complex(static_cast<std::size_t>(n / 2 + 1));
    fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
    const std::vector<double> values = noise(static_cast<std::size_t>(n), 1);
    for (auto _ : state) {
        std::copy(values.begin(), values.end(), in);  // as ours, the copy in is counted
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}

void analyzeMicOnly(benchmark::State& state) {
    const std::vector<double> mic = noise(4096, 3);
    MeasurementDSP::Workspace workspace;
    for (auto _ : state)
        benchmark::DoNotOptimize(MeasurementDSP::analyze(workspace, mic, std::nullopt, 48000));
}

// The live analysis: full rings of 131072 samples, the workspace kept from call to call as a run keeps it.
void analyzeDual(benchmark::State& state) {
    const double rate = static_cast<double>(state.range(0));
    const Capture c = capture(131072, rate);
    MeasurementDSP::Workspace workspace;
    for (auto _ : state) {
        AnalysisResult result = MeasurementDSP::analyze(workspace, c.mic, c.reference, rate);
        if (!result.delayMS) state.SkipWithError("delay not accepted");
        benchmark::DoNotOptimize(result);
    }
}

void analyzeDualFFTW(benchmark::State& state) {
    const double rate = static_cast<double>(state.range(0));
    const Capture c = capture(131072, rate);
    FFTWAnalysis peer(131072);
    // The peer must compute the same thing, or the comparison means nothing.
    const AnalysisResult ours = MeasurementDSP::analyze(c.mic, c.reference, rate);
    const AnalysisResult theirs = peer.analyze(c.mic, c.reference, rate);
    if (!ours.delayMS || ours.delayMS != theirs.delayMS || ours.transfer.size() != theirs.transfer.size())
        state.SkipWithError("the FFTW peer disagrees with the analysis");
    for (auto _ : state) {
        AnalysisResult result = peer.analyze(c.mic, c.reference, rate);
        benchmark::DoNotOptimize(result);
    }
}

void analyzeDualTextbook(benchmark::State& state) {
    const Capture c = capture(131072, 48000);
    for (auto _ : state) benchmark::DoNotOptimize(TextbookAnalysis::analyze(c.mic, c.reference, 48000));
}

void estimate(benchmark::State& state) {
    const Capture c = capture(131072, 48000);
    TransferDSP::Workspace workspace;
    for (auto _ : state)
        benchmark::DoNotOptimize(TransferDSP::estimate(workspace, c.mic, c.reference, 48000, 10.0));
}

BENCHMARK(fftOurs)->Arg(4096)->Arg(16384)->Arg(262144)->Unit(benchmark::kMicrosecond);
BENCHMARK(fftFFTW)->Arg(4096)->Arg(16384)->Arg(262144)->Unit(benchmark::kMicrosecond);
BENCHMARK(fftTextbook)->Arg(4096)->Arg(16384)->Arg(262144)->Unit(benchmark::kMicrosecond);
BENCHMARK(realFFT)->Arg(16384)->Arg(262144)->Unit(benchmark::kMicrosecond);
BENCHMARK(realFFTW)->Arg(16384)->Arg(262144)->Unit(benchmark::kMicrosecond);
BENCHMARK(analyzeMicOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(analyzeDual)->Arg(48000)->Arg(192000)->Unit(benchmark::kMillisecond);
BENCHMARK(analyzeDualFFTW)->Arg(48000)->Arg(192000)->Unit(benchmark::kMillisecond);
BENCHMARK(analyzeDualTextbook)->Unit(benchmark::kMillisecond);
BENCHMARK(estimate)->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration (ns of real time), every repetition in order, beside the usual
// console table.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    RecordingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_None) {}
    std::map<std::string, std::vector<double>> nanoseconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                nanoseconds[run.benchmark_name()].push_back(run.real_accumulated_time * 1e9 /
                                                            static_cast<double>(run.iterations));
        ConsoleReporter::ReportRuns(runs);
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> arguments(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=5";
    if (std::none_of(arguments.begin(), arguments.end(),
                     [](const char* a) { return std::string(a).rfind("--benchmark_repetitions", 0) == 0; }))
        arguments.push_back(repetitions.data());
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto& runs = reporter.nanoseconds;
    // The median time of a benchmark's runs, ns.
    std::map<std::string, double> t;
    for (const auto& [name, times] : runs) t[name] = median(times);
    auto ratio = [&](const std::string& a, const std::string& b, const char* label, const char* target) {
        if (!runs.count(a) || !runs.count(b)) return;
        const std::vector<double>&x = runs.at(a), &y = runs.at(b);
        std::vector<double> paired;
        for (std::size_t i = 0; i < std::min(x.size(), y.size()); ++i) paired.push_back(x[i] / y[i]);
        std::printf("  %-46s %8.2f   %s\n", label, median(paired), target);
    };
    std::size_t repeated = 0;
    for (const auto& [name, times] : runs) repeated = std::max(repeated, times.size());
    std::printf("\nanalysis ratios (each the median over %zu paired runs; times the median)\n", repeated);
    for (const char* n : {"4096", "16384", "262144"}) {
        const std::string ours = std::string("fftOurs/") + n, fftw = std::string("fftFFTW/") + n,
                          textbook = std::string("fftTextbook/") + n, size = n;
        ratio(ours, fftw, ("complex fft " + size + ": ours / FFTW").c_str(),
              size == "4096" ? "" : "(target <= 6)");
        ratio(textbook, ours, ("complex fft " + size + ": textbook / ours").c_str(), "");
    }
    ratio("analyzeDualTextbook", "analyzeDual/48000", "dual analysis: textbook FFT / ours", "(target >= 8)");
    for (const char* n : {"16384", "262144"})
        ratio(std::string("realFFT/") + n, std::string("realFFTW/") + n,
              (std::string("real FFT ") + n + ": ours / FFTW r2c").c_str(), "");
    for (const char* rate : {"48000", "192000"}) {
        const std::string ours = std::string("analyzeDual/") + rate,
                          peer = std::string("analyzeDualFFTW/") + rate;
        ratio(ours, peer, (std::string("dual analysis at ") + rate + " Hz: ours / FFTW r2c").c_str(),
              "(target <= 1.2)");
        // Each block (4096 frames) that finds no analysis running starts one: at most rate/4096 a second.
        if (t.count(ours))
            std::printf("  %-46s %8.2f   ms (target < 21), %.0f %% of a core at full rate\n",
                        (std::string("dual analysis at ") + rate + " Hz").c_str(), t.at(ours) / 1e6,
                        std::min(1.0, t.at(ours) / 1e9 * std::stod(rate) / 4096) * 100);
    }
    if (t.count("analyzeMicOnly"))
        std::printf("  %-46s %8.3f   ms\n", "mic-only analysis, 4096 samples", t.at("analyzeMicOnly") / 1e6);
    if (t.count("estimate"))
        std::printf("  %-46s %8.2f   ms\n", "estimate, 131072 samples", t.at("estimate") / 1e6);
    return 0;
}
