// Memory and time of the measurements store's save: a file of 100 and of 1000 saved traces of 6820 bins
// (about 78 and 787 MB) is loaded by the store in a fresh process of this program, which then clears its
// peak (VmHWM), saves every trace and reports the peak above the resident memory of the loaded store and
// the time until the file is on disk. Beside it, another process writes the same bytes, already in
// memory, as durably (a temporary file synced and renamed into place): the least a save can take. Each
// is run three times, in turns: the median times and the highest peak are shown. The 1000-trace save is
// also run under the 2.5 GB address-space limit under which that file loads.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "bench/ChildProcess.h"
#include "bench/TraceFiles.h"
#include "library/MeasurementStore.h"
#include "library/StoreFiles.h"

using namespace quorvel;
using quorvel::bench::runChild;
using quorvel::bench::statusKB;

namespace {

constexpr double peakTargetMiB = 64;
constexpr double timeTarget = 3;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Sets VmHWM back to the resident memory of now, so that the peak that follows is the save's alone.
void clearPeak() {
    const int fd = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd < 0 || ::write(fd, "5", 1) != 1) std::fprintf(stderr, "cannot clear the peak resident memory\n");
    if (fd >= 0) ::close(fd);
}

QString measurementsFile(const std::string& home) {
    return QString::fromStdString(home + "/data/Quorvel/measurements.json");
}

// --- children ---

// Loads the store, saves it, and prints: resident kB loaded, peak kB while saving, seconds, the number of
// traces and the store's message ("-" when empty).
int save(int argc, char** argv, const std::string& home) {
    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    QCoreApplication app(argc, argv);
    MeasurementStore store;
    const double loadedKB = statusKB("VmRSS");
    clearPeak();
    const auto start = std::chrono::steady_clock::now();
    store.save();
    store.waitForFile();
    const double seconds = secondsSince(start);
    const std::string message = store.message().left(70).toStdString();
    std::printf("%.0f %.0f %.3f %zu %s\n", loadedKB, statusKB("VmHWM"), seconds, store.traces().size(),
                message.empty() ? "-" : message.c_str());
    return 0;
}

// Writes the bytes of the measurements file, read into memory first, durably beside it; prints seconds.
int durable(const std::string& home) {
    const auto bytes = StoreFiles::readWhole(measurementsFile(home));
    if (!bytes) return 1;
    QString error;
    const auto start = std::chrono::steady_clock::now();
    const bool written =
        StoreFiles::writeAtomically(QString::fromStdString(home + "/durable.json"), *bytes, &error);
    std::printf("%.3f\n", written ? secondsSince(start) : -1.0);
    return 0;
}

struct Saved {
    double loadedMiB = 0, peakAboveMiB = 0, seconds = 0;
    std::size_t traces = 0;
    std::string message;
};

Saved measureSave(const std::string& self, const std::string& home, rlim_t limit = 0) {
    std::istringstream in(runChild(self, {"--save", home}, limit));
    double loadedKB = 0, peakKB = 0;
    Saved s;
    in >> loadedKB >> peakKB >> s.seconds >> s.traces;
    std::getline(in, s.message);
    s.loadedMiB = loadedKB / 1024;
    s.peakAboveMiB = (peakKB - loadedKB) / 1024;
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--save") return save(argc, argv, argv[2]);
    if (argc == 3 && std::string(argv[1]) == "--durable") return durable(argv[2]);

    char pattern[] = "/tmp/quorvel-save-bench-XXXXXX";
    const std::string root = mkdtemp(pattern);
    const std::string self = bench::executablePath();

    std::printf("%-36s %8s %8s %9s %8s %8s %s\n", "store save (MiB; s)", "file", "loaded", "peak-ld", "save",
                "durable", "same bytes");
    std::string ratios;
    for (int count : {100, 1000}) {
        const std::string home = root + "/traces-" + std::to_string(count);
        std::system(("mkdir -p '" + home + "/data/Quorvel'").c_str());
        const std::string file = measurementsFile(home).toStdString(), kept = home + "/original.json";
        const double fileMiB = bench::writeTraces(file, count) / 1048576;
        // A second name for the file as written: the save puts a new file in its place.
        if (::link(file.c_str(), kept.c_str()) != 0) return 1;

        ::sync();  // the file just written is on disk before anything is timed

        // Three of each, taken in turns: the median times, the highest peak.
        std::vector<double> durables, seconds;
        Saved s;
        for (int run = 0; run < 3; ++run) {
            durables.push_back(std::atof(runChild(self, {"--durable", home}).c_str()));
            const Saved one = measureSave(self, home);
            seconds.push_back(one.seconds);
            if (one.traces != std::size_t(count) || one.message != " -")
                std::printf("    %zu traces, message:%s\n", one.traces, one.message.c_str());
            if (run == 0 || one.peakAboveMiB > s.peakAboveMiB) s = one;
        }
        std::sort(durables.begin(), durables.end());
        std::sort(seconds.begin(), seconds.end());
        s.seconds = seconds[1];
        const double durableSeconds = durables[1];
        const bool same = std::system(("cmp -s '" + file + "' '" + kept + "'").c_str()) == 0;
        const std::string label = std::to_string(count) + " traces of 6820 bins";
        std::printf("  %-34s %8.1f %8.1f %9.1f %8.2f %8.2f %s\n", label.c_str(), fileMiB, s.loadedMiB,
                    s.peakAboveMiB, s.seconds, durableSeconds, same ? "yes" : "NO");

        char line[256];
        std::snprintf(line, sizeof line, "  %-70s %8.2f   (target <= 1)\n",
                      (label + ": save peak above the loaded store / 64 MiB").c_str(),
                      s.peakAboveMiB / peakTargetMiB);
        ratios += line;
        std::snprintf(line, sizeof line, "  %-70s %8.2f   (target <= %.0f)\n",
                      (label + ": save time / durable write of its bytes").c_str(),
                      s.seconds / durableSeconds, timeTarget);
        ratios += line;

        if (count == 1000) {
            const Saved limited = measureSave(self, home, rlim_t(2500) << 20);
            const bool saved = limited.traces == 1000 && limited.message == " -";
            std::printf("  %-34s %s%s\n", "1000 traces under a 2.5 GB address space:",
                        saved ? "saved" : "not saved, message:", saved ? "" : limited.message.c_str());
        }
        std::system(("rm -rf '" + home + "'").c_str());
    }
    std::printf("\nstore save ratios\n%s", ratios.c_str());
    std::system(("rm -rf '" + root + "'").c_str());
    return 0;
}
