// Signal rendering and reference-file processing against sox doing the same work, and the peak
// memory of processing an hour-long file. Prints each ratio (ours / sox) after the timings.
//
//   signal_bench                         the whole run (needs sox; about a minute)
//   signal_bench --process-only <file>   internal: one RMS-matched, filtered render of <file>;
//                                        prints its peak resident memory in kB
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "dsp/FileProcessor.h"
#include "dsp/SignalRenderer.h"
#include "platform/TempFiles.h"

using namespace quorvel;

namespace {
namespace fs = std::filesystem;

std::string g_dir;       // scratch folder; also TMPDIR, so renders land there
std::string g_flac5min;  // 5-minute stereo 48 kHz FLAC of pink noise

void shell(const std::string& command) {
    if (std::system((command + " 2>/dev/null").c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

const FileProcessSettings monoFiltered{.mode = StereoMode::mono, .filtered = true, .hp = 40, .lp = 16000};
// sox's equivalent: the mono fold, then the same one-pole pair (levels differ by a constant, which
// costs nothing).
const std::string soxMonoFiltered = "remix -m 1v0.5,2v0.5 1v0.5,2v0.5 highpass -1 40 lowpass -1 16000";

void oursPink(benchmark::State& state) {
    for (auto _ : state) {
        auto path = SignalRenderer::make({.kind = SignalKind::pink, .seconds = 60}, 192000);
        if (!path.ok())
            state.SkipWithError(path.error().description.c_str());
        else
            TempFiles::removeQuietly(*path);
    }
}

// The agreed reference command. sox synthesises this at 48 kHz in one channel, then resamples and
// copies the channel, which is faster than its native-rate stereo synthesis.
void soxPink(benchmark::State& state) {
    for (auto _ : state)
        shell("sox -n -r 192000 -c 2 -e floating-point -b 32 " + g_dir + "/sox-pink.wav synth 60 pinknoise");
}

void oursProcess(benchmark::State& state, bool matchRMS) {
    FileProcessSettings settings = monoFiltered;
    settings.matchRMS = matchRMS;
    for (auto _ : state) {
        auto path = FileProcessor::render(g_flac5min, settings);
        if (!path.ok())
            state.SkipWithError(path.error().description.c_str());
        else
            TempFiles::removeQuietly(*path);
    }
}

void soxProcess(benchmark::State& state) {
    for (auto _ : state)
        shell("sox " + g_flac5min + " -e floating-point -b 32 " + g_dir + "/sox-out.caf " + soxMonoFiltered);
}

// Keeps each benchmark's mean real time (ms) for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ms;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            std::string name = run.benchmark_name();
            name = name.substr(0, name.find("/iterations"));
            ms[name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

// The process's own peak resident memory in kB (VmHWM). Read by the process itself: a child's
// rusage would also count the parent's memory, which the child shares until it runs the program.
long ownPeakKB() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return -1;
    char line[256];
    long kB = -1;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmHWM: %ld kB", &kB) == 1) break;
    std::fclose(status);
    return kB;
}

// Peak resident memory (MB) of a separate run that processes `file` with RMS matching and filters.
double peakMemoryMB(const std::string& self, const std::string& file) {
    std::FILE* pipe = popen(("'" + self + "' --process-only '" + file + "'").c_str(), "r");
    if (!pipe) return -1;
    long kB = -1;
    if (std::fscanf(pipe, "%ld", &kB) != 1) kB = -1;
    return pclose(pipe) == 0 && kB > 0 ? static_cast<double>(kB) / 1024 : -1;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--process-only") {
        FileProcessSettings settings = monoFiltered;
        settings.matchRMS = true;
        auto path = FileProcessor::render(argv[2], settings);
        if (!path.ok()) {
            std::fprintf(stderr, "%s\n", path.error().description.c_str());
            return 1;
        }
        TempFiles::removeQuietly(*path);
        std::printf("%ld\n", ownPeakKB());
        return 0;
    }

    std::string pattern = (fs::temp_directory_path() / "quorvel-signal-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    g_dir = pattern;
    setenv("TMPDIR", g_dir.c_str(), 1);
    g_flac5min = g_dir + "/five-minutes.flac";
    std::printf("Making inputs in %s ...\n", g_dir.c_str());
    shell("sox -r 48000 -c 2 -n -b 16 " + g_flac5min + " synth 300 pinknoise vol 0.3");

    benchmark::Initialize(&argc, argv);
    auto ms = benchmark::kMillisecond;
    benchmark::RegisterBenchmark("ours/pink-60s-192k", oursPink)->Iterations(3)->Unit(ms)->UseRealTime();
    benchmark::RegisterBenchmark("sox/pink-60s-192k", soxPink)->Iterations(3)->Unit(ms)->UseRealTime();
    benchmark::RegisterBenchmark("ours/process-5min-flac", oursProcess, false)
        ->Iterations(3)
        ->Unit(ms)
        ->UseRealTime();
    benchmark::RegisterBenchmark("ours/process-5min-flac-rms", oursProcess, true)
        ->Iterations(3)
        ->Unit(ms)
        ->UseRealTime();
    benchmark::RegisterBenchmark("sox/process-5min-flac", soxProcess)->Iterations(3)->Unit(ms)->UseRealTime();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    auto ratio = [&](const char* what, const char* ours, const char* sox, const char* target) {
        const double a = reporter.ms[ours], b = reporter.ms[sox];
        if (a > 0 && b > 0)
            std::printf("signal: %-36s %.2fx sox (target <= %s)\n", what, a / b, target);
        else
            std::printf("signal: %-36s not run\n", what);
    };
    std::printf("\n");
    ratio("pink noise 60 s at 192 kHz", "ours/pink-60s-192k", "sox/pink-60s-192k", "1.0");
    ratio("5-min FLAC, mono + filters", "ours/process-5min-flac", "sox/process-5min-flac", "1.0");
    ratio("the same with RMS matching", "ours/process-5min-flac-rms", "sox/process-5min-flac", "1.6");

    const std::string hour = g_dir + "/sixty-minutes.flac";
    shell("sox -r 48000 -c 2 -n -b 16 " + hour + " synth 3600 sine 1000 vol 0.3");
    const double peakMB = peakMemoryMB(fs::canonical("/proc/self/exe").string(), hour);
    std::printf("signal: %-36s peak RSS %.1f MB (target < 64)\n", "60-min FLAC, RMS + filters", peakMB);

    fs::remove_all(g_dir);
    return 0;
}
