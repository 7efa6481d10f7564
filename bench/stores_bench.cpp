// The stores with a full measurements file: 100 saved traces of 6820 bins (about 78 MB). Each figure is
// taken in a fresh process of this program started by itself, so that the resident memory of one run
// does not carry into the next:
//   - start-up (from the launch of the process) to the first painted window, against the same with no
//     traces; then the time until the traces are loaded and the resident memory with them;
//   - the longest stall of the main thread while traces are captured and saved;
//   - decoding the 100 traces' text in memory, against simdjson's parse of the same text alone (one pass
//     over it, the least a decode can do);
//   - decoding 1 MB files of hostile shapes with both store decoders.
// Prints each ratio next to its target.
#include <simdjson.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/QuorvelView.h"
#include "bench/ChildProcess.h"
#include "bench/TraceFiles.h"
#include "dsp/TransferJSON.h"
#include "kit/QVStyle.h"
#include "library/MeasurementStore.h"
#include "library/ReferencePlaylist.h"

using namespace quorvel;
using quorvel::bench::runChild;
using quorvel::bench::statusKB;

namespace {

constexpr int traceCount = 100;
constexpr int startRuns = 5;
// Milliseconds on the system's monotonic clock, which every process reads alike: the parent notes the
// moment it starts a child, the child the moment of its first paint.
double monotonicMS() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string makeHome(const std::string& root, const std::string& name, bool full) {
    const std::string home = root + "/" + name;
    std::system(("mkdir -p '" + home + "/data/Quorvel' '" + home + "/config' '" + home + "/tmp'").c_str());
    if (full) bench::writeTraces(home + "/data/Quorvel/measurements.json", traceCount);
    return home;
}

void useHome(const std::string& home) {
    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    setenv("TMPDIR", (home + "/tmp").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
}

// --- child: start the application and stop at its first paint ---

int startUp(int argc, char** argv, const std::string& home) {
    useHome(home);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    QVStyle::apply();
    QuorvelView* shown = nullptr;
    struct FirstPaint : QObject {
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint && paintedMS == 0) {
                paintedMS = monotonicMS();
                paintedKB = statusKB("VmRSS");
            }
            return false;
        }
        double paintedMS = 0, paintedKB = 0;
    } painted;
    // After the first paint, the traces (read in the background) arrive; the resident memory is taken once
    // they are in, or after 20 s.
    const bool withTraces =
        QFileInfo::exists(QString::fromStdString(home) + "/data/Quorvel/measurements.json");
    QTimer poll;
    double loadedMS = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (painted.paintedMS == 0 || !shown) return;
        const bool full = shown->measurements().traces().size() == traceCount;
        if (full || !withTraces || monotonicMS() - painted.paintedMS > 20000) {
            loadedMS = full ? monotonicMS() : 0;
            poll.stop();
            QApplication::quit();
        }
    });
    QuorvelView view;
    shown = &view;
    view.installEventFilter(&painted);
    view.resize(QuorvelView::kMinWidth + 260, QuorvelView::kMinHeight + 120);
    view.show();
    poll.start(5);
    const int status = QApplication::exec();
    std::printf("%.1f %.0f %.1f %.0f %.0f\n", painted.paintedMS, painted.paintedKB, loadedMS,
                statusKB("VmRSS"), statusKB("VmHWM"));
    return status;
}

// --- child: capture traces into the full store and watch the main thread ---

int saving(int argc, char** argv, const std::string& home) {
    useHome(home);
    QApplication app(argc, argv);
    double now = 800000000;
    MeasurementStore store([&] { return now; });
    if (store.traces().size() != traceCount) return 2;
    CaptureSource source;
    source.running = true;
    source.delayMS = 3.5;
    source.transfer = bench::sampleTrace(699).bins;
    source.averages = 8;
    source.sampleRate = 48000;
    source.captureReferenceChannel = 1;

    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 t = clock.elapsed();
        longest = std::max(longest, t - last);
        last = t;
    });
    tick.start(2);
    int captures = 0;
    QTimer action;
    QObject::connect(&action, &QTimer::timeout, [&] {
        if (captures == 5) {
            action.stop();
            QTimer::singleShot(2000, &app, &QApplication::quit);
            return;
        }
        now += 1;
        source.lastUpdated = now;
        store.capture(source, QString("Saved %1").arg(++captures), "", "");
    });
    action.start(300);
    app.exec();
    store.waitForFile();
    std::printf("%lld %zu\n", static_cast<long long>(longest), store.traces().size());
    return 0;
}

// --- in process: hostile 1 MB files ---

std::string hostile(const std::string& shape) {
    const size_t size = 1 << 20;
    std::string s;
    if (shape == "object of 100000 keys") {
        s = "{";
        for (int i = 0; s.size() < size; ++i) s += (i ? ",\"" : "\"") + std::to_string(i) + "\":0";
        s += "}";
    } else if (shape == "array of numbers") {
        s = "[";
        for (int i = 0; s.size() < size; ++i) s += (i ? ",0." : "0.") + std::to_string(i);
        s += "]";
    } else if (shape == "nested arrays") {
        s = std::string(size / 2, '[') + std::string(size / 2, ']');
    } else if (shape == "one long string") {
        s = "[\"" + std::string(size, 'a') + "\"]";
    } else {  // traces of small objects with every key repeated
        s = "[";
        for (int i = 0; s.size() < size; ++i) s += (i ? ",{" : "{") + std::string("\"id\":1,\"id\":2}");
        s += "]";
    }
    return s;
}

double bestSeconds(const std::function<void()>& work) {
    double best = 1e9;
    for (int i = 0; i < 3 && (i == 0 || best < 0.5); ++i) {  // a slow decoder is timed once
        const auto start = std::chrono::steady_clock::now();
        work();
        best =
            std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--start") return startUp(argc, argv, argv[2]);
    if (argc == 3 && std::string(argv[1]) == "--save") return saving(argc, argv, argv[2]);

    char pattern[] = "/tmp/quorvel-stores-bench-XXXXXX";
    const std::string root = mkdtemp(pattern);
    const std::string selfPath = bench::executablePath();
    const std::string empty = makeHome(root, "empty", false), full = makeHome(root, "full", true);

    std::vector<double> emptyMS, fullMS, emptyRSS, fullRSS, loadedMS, loadedRSS, fullPeak;
    for (int run = 0; run < startRuns; ++run) {
        for (bool isFull : {false, true}) {
            const double launched = monotonicMS();
            std::istringstream in(runChild(selfPath, {"--start", isFull ? full : empty}));
            double painted = 0, paintedKB = 0, loaded = 0, loadedKB = 0, peakKB = 0;
            in >> painted >> paintedKB >> loaded >> loadedKB >> peakKB;
            (isFull ? fullMS : emptyMS).push_back(painted - launched);
            (isFull ? fullRSS : emptyRSS).push_back(paintedKB / 1024);
            if (isFull) {
                loadedMS.push_back(loaded > 0 ? loaded - launched : -1);
                loadedRSS.push_back(loadedKB / 1024);
                fullPeak.push_back(peakKB / 1024);
            }
        }
    }
    std::istringstream saved(runChild(selfPath, {"--save", full}));
    double stallMS = -1, tracesAfter = 0;
    saved >> stallMS >> tracesAfter;

    std::printf("%-58s %10s\n", "stores: 100 traces of 6820 bins", "");
    std::printf("  %-56s %8.1f\n", "start-up to first paint, empty store: ms (median of 5)", median(emptyMS));
    std::printf("  %-56s %8.1f\n", "start-up to first paint, 100 traces: ms (median of 5)", median(fullMS));
    std::printf("  %-56s %8.1f\n", "resident at first paint, empty store: MB", median(emptyRSS));
    std::printf("  %-56s %8.1f\n", "resident at first paint, 100 traces: MB", median(fullRSS));
    std::printf("  %-56s %8.1f\n", "start-up to the 100 traces loaded: ms", median(loadedMS));
    std::printf("  %-56s %8.1f\n", "resident with the 100 traces loaded: MB", median(loadedRSS));
    std::printf("  %-56s %8.1f\n", "peak resident, 100 traces: MB", median(fullPeak));

    // The whole text in memory, decoded by the store's decoder and parsed by simdjson alone.
    double decodeSeconds = 0, parseSeconds = 0;
    {
        std::ifstream in(full + "/data/Quorvel/measurements.json", std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::size_t decoded = 0;
        decodeSeconds = bestSeconds([&] {
            auto traces = TransferJSON::decode(text);
            decoded = traces ? traces->size() : 0;
        });
        simdjson::dom::parser parser;
        bool parsed = false;
        parseSeconds = bestSeconds([&] {
            simdjson::dom::element document;
            parsed = parser.parse(text).get(document) == simdjson::SUCCESS;
        });
        std::printf("  %-56s %8.1f   (%zu traces)\n", "decoding the 100 traces' text in memory: ms",
                    decodeSeconds * 1e3, decoded);
        std::printf("  %-56s %8.1f   (%s)\n", "simdjson's parse of the same text alone: ms",
                    parseSeconds * 1e3, parsed ? "parsed" : "failed");
    }

    const std::vector<std::string> shapes = {"object of 100000 keys", "array of numbers", "nested arrays",
                                             "one long string", "objects with repeated keys"};
    double slowest = 0;
    std::printf("  1 MB hostile files, decode time (best of 3):\n");
    for (const std::string& shape : shapes) {
        const std::string text = hostile(shape);
        const QByteArray bytes = QByteArray::fromStdString(text);
        const double playlists = bestSeconds([&] { (void)ReferencePlaylist::decodeList(bytes); });
        const double measurements = bestSeconds([&] { (void)TransferJSON::decode(text); });
        std::printf("    %-30s playlists %8.4f s, measurements %8.4f s\n", shape.c_str(), playlists,
                    measurements);
        slowest = std::max({slowest, playlists, measurements});
    }

    std::printf("\nstores ratios\n");
    std::printf("  %-56s %8.2f   (target <= 3)\n", "start-up, 100 traces / empty store",
                median(fullMS) / median(emptyMS));
    std::printf("  %-56s %8.2f   (target <= 1.5)\n", "decode of the 100 traces / simdjson's parse alone",
                decodeSeconds / parseSeconds);
    std::printf("  %-56s %8.1f   (target <= 40)\n", "resident, 100 traces loaded - empty store: MB",
                median(loadedRSS) - median(emptyRSS));
    std::printf("  %-56s %8.1f   (target <= 50, %g traces after 5 captures)\n",
                "longest main-thread stall while saving: ms", stallMS, tracesAfter);
    std::printf("  %-56s %8.3f   (target well under 1)\n", "slowest 1 MB hostile file: s", slowest);
    std::system(("rm -rf '" + root + "'").c_str());
    return 0;
}
