// Memory of the store loads: a measurements file of 100 and of 1000 saved traces of 6820 bins (about 78
// and 787 MB), and a 100 MB playlists file of one flat array. Each load runs in a fresh process of this
// program started by itself, which reports its resident memory before the load, its peak (VmHWM) and its
// resident memory once the traces are in; the peak above the loaded traces is the peak less the
// resident memory with them, to be set beside the file's size. The 1000-trace file is also loaded under
// a 2.5 GB address-space limit, where it must still load.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/ChildProcess.h"
#include "bench/TraceFiles.h"
#include "library/LibraryStore.h"
#include "library/MeasurementStore.h"

using namespace quorvel;
using quorvel::bench::runChild;
using quorvel::bench::statusKB;

namespace {

double writeFlatArray(const std::string& path, std::size_t bytes) {
    std::ofstream out(path, std::ios::binary);
    std::string block;
    for (int i = 0; i < 1 << 19; ++i) block += ",0";
    out << "[0";
    for (std::size_t written = 2; written < bytes; written += block.size()) out << block;
    out << ']';
    return double(out.tellp());
}

// --- child: one load ---

int load(int argc, char** argv, const std::string& what, const std::string& home) {
    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    QCoreApplication app(argc, argv);
    const double beforeKB = statusKB("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    std::size_t loaded = 0;
    std::string message;
    // The store stays alive while the memory is read, so that its traces count.
    if (what == "measurements") {
        MeasurementStore store;
        loaded = store.traces().size();
        message = store.message().left(70).toStdString();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%.0f %.0f %.0f %.2f %zu %s\n", beforeKB, statusKB("VmHWM"), statusKB("VmRSS"), seconds,
                    loaded, message.empty() ? "-" : message.c_str());
    } else {
        LibraryStore store(QString::fromStdString(home + "/data/Quorvel"));
        loaded = std::size_t(store.playlists().size());
        message = store.message().left(70).toStdString();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%.0f %.0f %.0f %.2f %zu %s\n", beforeKB, statusKB("VmHWM"), statusKB("VmRSS"), seconds,
                    loaded, message.empty() ? "-" : message.c_str());
    }
    return 0;
}

struct Figures {
    double beforeMB = 0, peakMB = 0, steadyMB = 0, seconds = 0;
    std::size_t loaded = 0;
    std::string message;
};

Figures measure(const std::string& self, const std::string& what, const std::string& home, rlim_t limit = 0) {
    std::istringstream in(runChild(self, {"--load", what, home}, limit));
    Figures f;
    in >> f.beforeMB >> f.peakMB >> f.steadyMB >> f.seconds >> f.loaded;
    std::getline(in, f.message);
    f.beforeMB /= 1024;
    f.peakMB /= 1024;
    f.steadyMB /= 1024;
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--load") return load(argc, argv, argv[2], argv[3]);

    char pattern[] = "/tmp/quorvel-memory-bench-XXXXXX";
    const std::string root = mkdtemp(pattern);
    const std::string self = bench::executablePath();
    const auto makeHome = [&](const std::string& name) {
        const std::string home = root + "/" + name;
        std::system(("mkdir -p '" + home + "/data/Quorvel' '" + home + "/config'").c_str());
        return home;
    };

    std::printf("%-44s %9s %9s %9s %9s %8s\n", "store memory (MiB; s)", "file", "peak", "loaded", "peak-ld",
                "time");
    double worstMargin = 1e9;
    for (int count : {100, 1000}) {
        const std::string home = makeHome("traces-" + std::to_string(count));
        const double fileMB = bench::writeTraces(home + "/data/Quorvel/measurements.json", count) / 1048576;
        const Figures f = measure(self, "measurements", home);
        const double peak = f.peakMB - f.beforeMB, loaded = f.steadyMB - f.beforeMB;
        std::printf("  %-42s %9.1f %9.1f %9.1f %9.1f %8.2f  (%zu loaded)\n",
                    (std::to_string(count) + " traces of 6820 bins").c_str(), fileMB, peak, loaded,
                    f.peakMB - f.steadyMB, f.seconds, f.loaded);
        if (f.loaded != std::size_t(count)) std::printf("    not loaded: %s\n", f.message.c_str());
        worstMargin = std::min(worstMargin, fileMB + 64 - (f.peakMB - f.steadyMB));
        if (count == 1000) {
            const Figures limited = measure(self, "measurements", home, rlim_t(2500) << 20);
            std::printf("  %-42s %zu traces loaded%s%s\n",
                        "1000 traces under a 2.5 GB address space:", limited.loaded,
                        limited.loaded == 1000 ? "" : ", message:",
                        limited.loaded == 1000 ? "" : limited.message.c_str());
        }
        std::system(("rm -rf '" + home + "'").c_str());
    }
    {
        const std::string home = makeHome("playlists");
        const double fileMB = writeFlatArray(home + "/data/Quorvel/playlists.json", 100u << 20) / 1048576;
        const Figures f = measure(self, "playlists", home);
        std::printf("  %-42s %9.1f %9.1f %9.1f %9.1f %8.2f\n", "playlists: 100 MB flat array", fileMB,
                    f.peakMB - f.beforeMB, f.steadyMB - f.beforeMB, f.peakMB - f.steadyMB, f.seconds);
        std::printf("    message:%s\n", f.message.c_str());
    }
    std::printf("\nstore memory ratios\n");
    std::printf("  %-56s %8.1f   (target >= 0)\n", "file + 64 MiB - peak above the loaded traces, worst: MiB",
                worstMargin);
    std::system(("rm -rf '" + root + "'").c_str());
    return 0;
}
