// Live analysis against real time: a dual capture (microphone 10 ms behind the reference, pink noise) at
// 48 kHz through a private JACK server, for 30 s by default. Prints the blocks the tap received per second
// beside the results published per second, over the whole run and from the first result on (a dual
// analysis waits for a full ring of 2.73 s first). On an idle machine every block after the first result
// starts an analysis, so the two steady rates match. Also prints the process's resident memory before
// the start, at its highest while capture runs and once Stop has settled, against the targets; the JACK
// client maps the server's shared segment (port buffers for every port the server allows, about 100 MB
// with this server) while capture runs, which the own figure leaves out.
//
//   analyser_bench [--seconds=N]     (--benchmark_* arguments of scripts/bench are accepted; a
//                                     --benchmark_filter that does not match "analyser" skips the run)
#include <stdlib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>
#include <string>

#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "platform/LinuxAudioSystem.h"
#include "tests/support/JackTestServer.h"

using namespace quorvel;

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "analyser_bench: %s\n", what);
    return 1;
}

// Resident memory of this process in MB: all of it (VmRSS), and the part that is the process's own
// (RssAnon: heap, stacks), without shared memory such as the JACK server's segment a client maps.
struct Resident {
    double total = 0, own = 0;
};
Resident resident() {
    std::ifstream status("/proc/self/status");
    std::string line;
    Resident r;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) r.total = std::stod(line.substr(6)) / 1024.0;
        if (line.rfind("RssAnon:", 0) == 0) r.own = std::stod(line.substr(8)) / 1024.0;
    }
    return r;
}

// Runs the event loop for `ms` milliseconds.
void settle(QCoreApplication& app, int ms) {
    QTimer::singleShot(ms, Qt::PreciseTimer, &app, &QCoreApplication::quit);
    app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 30;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--seconds=", 0) == 0) seconds = std::stod(arg.substr(10));
        if (arg.rfind("--benchmark_filter=", 0) == 0 &&
            !std::regex_search("analyser", std::regex(arg.substr(19)))) {
            std::printf("analyser_bench: skipped by the filter\n");
            return 0;
        }
    }

    // The interface choice goes to a scratch settings folder, never the user's.
    char scratch[] = "/tmp/qv-analyser-bench-XXXXXX";
    if (!mkdtemp(scratch)) return fail("cannot make a scratch folder");
    setenv("XDG_CONFIG_HOME", scratch, 1);
    int status = 0;
    {
        QCoreApplication app(argc, argv);
        // One name per build folder: a server that dies unstopped keeps its slot in JACK's machine-wide
        // registry until a server of the same name registers again.
        const std::string program = QCoreApplication::applicationFilePath().toStdString();
        JackTestServer server("qv-bench-" + std::to_string(std::hash<std::string>{}(program) % 1000000));
        if (!server.start()) return fail("jackd did not start");
        if (!server.startInterface(
                QUORVEL_JACK_INTERFACE,
                {"--name", "qv-mic", "--capture", "2", "--playback", "0", "--noise", "1=480,2=0"},
                "qv-mic:capture_2"))
            return fail("the test interface did not start");
        AudioHardware::install(std::make_shared<LinuxAudioSystem>(std::vector<std::string>{"jack"}));
        {
            InterfacePicker picker;
            // The picker lists on a worker; the device is looked up here at once.
            if (auto listed = AudioHardware::system().devices())
                for (const auto& d : *listed)
                    if (d.name == "qv-mic") picker.setSelected(d.id);
            if (picker.selected() == 0) return fail("qv-mic is not listed");
            picker.save();
        }

        MicAnalyzer analyzer;
        analyzer.setDual(true);
        analyzer.setMicChannel(0);
        analyzer.setReferenceChannel(1);

        QElapsedTimer clock;
        MicAnalyzer::Statistics atFirst;
        qint64 firstAtNs = -1;
        QObject::connect(&analyzer, &MicAnalyzer::lastUpdatedChanged, [&] {
            if (firstAtNs < 0 && analyzer.lastUpdated()) {
                firstAtNs = clock.nsecsElapsed();
                atFirst = analyzer.statistics();
            }
        });
        settle(app, 500);
        const Resident idle = resident();
        Resident running;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            const Resident now = resident();
            running.total = std::max(running.total, now.total);
            running.own = std::max(running.own, now.own);
        });
        sampler.start(50);
        clock.start();
        analyzer.start();
        settle(app, static_cast<int>(seconds * 1000));
        sampler.stop();
        const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        const MicAnalyzer::Statistics end = analyzer.statistics();
        const bool ran = analyzer.running();
        const QString lastStatus = analyzer.status();
        const auto delay = analyzer.delayMS();
        analyzer.stop();
        // A job of the stopped run finishes in the background and is discarded; let it end.
        QThreadPool::globalInstance()->waitForDone();
        settle(app, 500);
        const Resident stopped = resident();
        if (!ran) {
            std::fprintf(stderr, "analyser_bench: capture stopped: %s\n", lastStatus.toUtf8().constData());
            status = 1;
        }

        std::printf("Dual capture at 48 kHz through JACK for %.1f s (delay found: %s)\n", elapsed,
                    delay ? QString::number(*delay, 'f', 2).append(" ms").toUtf8().constData() : "none");
        std::printf("%-24s %14s %16s %10s %14s\n", "", "blocks recv/s", "results publ/s", "ratio",
                    "blocks dropped");
        auto row = [](const char* label, double span, std::int64_t blocks, std::int64_t results,
                      std::int64_t dropped) {
            const double b = span > 0 ? static_cast<double>(blocks) / span : 0,
                         r = span > 0 ? static_cast<double>(results) / span : 0;
            std::printf("%-24s %14.2f %16.2f %10.3f %14lld\n", label, b, r, b > 0 ? r / b : 0.0,
                        static_cast<long long>(dropped));
        };
        row("whole run", elapsed, end.blocksReceived, end.resultsPublished, end.blocksDropped);
        if (firstAtNs >= 0) {
            const double span = elapsed - static_cast<double>(firstAtNs) / 1e9;
            // The block that completed the ring started the first analysis; count from the one after it.
            row("after the first result", span, end.blocksReceived - atFirst.blocksReceived,
                end.resultsPublished - atFirst.resultsPublished, end.blocksDropped - atFirst.blocksDropped);
        } else {
            std::printf("no result was published\n");
            status = 1;
        }
        std::printf("analyses started: %lld, published: %lld\n", static_cast<long long>(end.analysesStarted),
                    static_cast<long long>(end.resultsPublished));
        std::printf("resident memory, MB          %10s %18s %12s\n", "idle", "running (highest)",
                    "after stop");
        std::printf("  all (VmRSS)                %10.1f %18.1f %12.1f\n", idle.total, running.total,
                    stopped.total);
        std::printf("  own, without shared memory %10.1f %18.1f %12.1f\n", idle.own, running.own,
                    stopped.own);
        std::printf("  %-44s %8.1f   (target <= 16: rings, job copies, analysis buffers)\n",
                    "own memory while running - idle, MB", running.own - idle.own);
        std::printf("  %-44s %8.1f   (target <= 10)\n", "all memory after stop - idle, MB",
                    stopped.total - idle.total);
    }
    std::system(("rm -rf '" + std::string(scratch) + "'").c_str());
    return status;
}
