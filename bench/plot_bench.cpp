// Cost of drawing the live plots: one new spectrum shown and painted by the Measure page's plot in FFT
// mode and in RTA mode, and one new 6820-bin transfer trace shown and painted by the Alignment page's
// plot, each at the size the plot has in the window at its default size (offscreen, 1:1). Two spectra
// (and two traces) alternate, so that every paint draws new data as it does live. Prints the FFT and
// transfer paints against the RTA paint after the table.
//
// Instruction counts, which are the same on a busy machine: run N paints of each kind under callgrind,
// each kind dumped under its name ("fft", "rta", "transfer"), with collection on only while they paint:
//   valgrind --tool=callgrind --collect-atstart=no plot_bench --paints=N
//   (then "summary:" of each callgrind.out.<pid>.<n> divided by N)
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <valgrind/callgrind.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/QuorvelView.h"
#include "dsp/MeasurementDSP.h"
#include "dsp/TransferDSP.h"
#include "engine/AudioHardware.h"
#include "kit/QVStyle.h"
#include "platform/VirtualAudioSystem.h"
#include "screens/AlignView.h"
#include "screens/AnalyzerView.h"
#include "screens/SpectrumPlot.h"
#include "screens/TransferPlot.h"

using namespace quorvel;

namespace {

std::vector<double> noise(std::size_t n, unsigned seed, double amplitude) {
    std::mt19937_64 engine(seed);
    std::uniform_real_distribution<double> uniform(-amplitude, amplitude);
    std::vector<double> v(n);
    for (auto& x : v) x = uniform(engine);
    return v;
}

// The analyser's spectrum of 4096 samples of white noise: 2047 bins, 1705 of them between 20 Hz and
// 20 kHz at 48 kHz, as jagged as a live one.
std::vector<SpectrumPoint> spectrum(unsigned seed) {
    return MeasurementDSP::analyze(noise(4096, seed, 0.3), std::nullopt, 48000).spectrum;
}

// A live transfer estimate at 48 kHz: 6820 bins, with an uncorrelated part in the microphone so that
// the coherence gate lifts the pen here and there.
std::vector<TransferBin> transfer(unsigned seed) {
    const std::vector<double> reference = noise(131072, seed, 0.3);
    std::vector<double> mic = noise(131072, seed + 100, 0.15);
    for (std::size_t i = 480; i < mic.size(); ++i)
        mic[i] += 0.6 * reference[i - 480] + 0.2 * reference[i - 481];
    return TransferDSP::estimate(mic, reference, 48000, 10.0).bins;
}

struct Plots {
    std::unique_ptr<QuorvelView> view;
    SpectrumPlot* spectrum = nullptr;
    TransferPlot* transfer = nullptr;
    std::vector<SpectrumPoint> spectra[2];
    std::vector<TransferBin> traces[2];
};
Plots* plots = nullptr;

// Paints `widget` as the window would, into an image of its size.
void paint(QWidget* widget, QImage& image) {
    image.fill(Qt::transparent);
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
}

void spectrumPaint(benchmark::State& state, bool fft) {
    QImage image(plots->spectrum->size(), QImage::Format_ARGB32_Premultiplied);
    std::size_t i = 0;
    for (auto _ : state) {
        const std::vector<SpectrumPoint>& s = plots->spectra[i++ % 2];
        plots->spectrum->setPoints(fft ? s : SpectrumPlot::bands(s));
        paint(plots->spectrum, image);
    }
    state.counters["width"] = plots->spectrum->width();
}
void paintFFT(benchmark::State& state) { spectrumPaint(state, true); }
void paintRTA(benchmark::State& state) { spectrumPaint(state, false); }

void paintTransfer(benchmark::State& state) {
    QImage image(plots->transfer->size(), QImage::Format_ARGB32_Premultiplied);
    std::size_t i = 0;
    for (auto _ : state) {
        plots->transfer->setTraces({plots->traces[i++ % 2]});
        paint(plots->transfer, image);
    }
    state.counters["bins"] = static_cast<double>(plots->traces[0].size());
}

BENCHMARK(paintFFT)->Unit(benchmark::kMicrosecond);
BENCHMARK(paintRTA)->Unit(benchmark::kMicrosecond);
BENCHMARK(paintTransfer)->Unit(benchmark::kMicrosecond);

// N paints of each kind, each kind's instructions dumped under its name when run under callgrind.
void countPaints(int n) {
    QImage image(plots->spectrum->size(), QImage::Format_ARGB32_Premultiplied);
    const auto count = [&](const char* name, const std::function<void(std::size_t)>& paintOne) {
        CALLGRIND_TOGGLE_COLLECT;
        for (int i = 0; i < n; ++i) paintOne(std::size_t(i));
        CALLGRIND_TOGGLE_COLLECT;
        CALLGRIND_DUMP_STATS_AT(name);
    };
    count("fft", [&](std::size_t i) {
        plots->spectrum->setPoints(plots->spectra[i % 2]);
        paint(plots->spectrum, image);
    });
    count("rta", [&](std::size_t i) {
        plots->spectrum->setPoints(SpectrumPlot::bands(plots->spectra[i % 2]));
        paint(plots->spectrum, image);
    });
    QImage transferImage(plots->transfer->size(), QImage::Format_ARGB32_Premultiplied);
    count("transfer", [&](std::size_t i) {
        plots->transfer->setTraces({plots->traces[i % 2]});
        paint(plots->transfer, transferImage);
    });
}

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
    // Offscreen, with the store's files in a scratch folder and no real audio device.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char scratch[] = "/tmp/qv-plot-bench-XXXXXX";
    if (!mkdtemp(scratch)) return 1;
    setenv("XDG_DATA_HOME", scratch, 1);
    setenv("XDG_CONFIG_HOME", scratch, 1);
    int paints = 0;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--paints=", 0) == 0) paints = std::max(1, std::atoi(argv[i] + 9));
    benchmark::Initialize(&argc, argv);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QVStyle::apply();
    AudioHardware::install(std::make_shared<VirtualAudioSystem>());

    Plots p;
    p.view = std::make_unique<QuorvelView>();
    p.view->resize(QuorvelView::kDefaultWidth, QuorvelView::kDefaultHeight);
    p.view->show();
    p.view->setTool(QuorvelTool::measure);
    QApplication::processEvents();
    p.spectrum = p.view->currentPage()->findChild<SpectrumPlot*>();
    // The Alignment page's plot stands in the same column, so it has the same width.
    auto* align = new AlignView(p.view->analyzer(), p.view->measurements());
    align->resize(p.view->currentPage()->size());
    align->show();
    QApplication::processEvents();
    p.transfer = align->findChild<TransferPlot*>();
    if (!p.spectrum || !p.transfer) return 1;
    for (unsigned k = 0; k < 2; ++k) {
        p.spectra[k] = spectrum(k + 1);
        p.traces[k] = transfer(k + 1);
    }
    plots = &p;
    std::printf("spectrum plot %d x %d px, transfer plot %d x %d px, %zu transfer bins\n",
                p.spectrum->width(), p.spectrum->height(), p.transfer->width(), p.transfer->height(),
                p.traces[0].size());

    if (paints) {
        countPaints(paints);
        delete align;
        p.view.reset();
        std::system(("rm -rf '" + std::string(scratch) + "'").c_str());
        return 0;
    }
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto& t = reporter.nanoseconds;
    std::printf("\nplot paint ratios\n");
    auto ratio = [&](const char* a, const char* b, const char* label, const char* target) {
        if (t.count(a) && t.count(b)) std::printf("  %-46s %8.2f   %s\n", label, t.at(a) / t.at(b), target);
    };
    ratio("paintFFT", "paintRTA", "FFT paint / RTA paint", "(target <= 1.2)");
    ratio("paintTransfer", "paintRTA", "transfer paint (6820 bins) / RTA paint", "");
    delete align;
    p.view.reset();
    std::system(("rm -rf '" + std::string(scratch) + "'").c_str());
    return 0;
}
