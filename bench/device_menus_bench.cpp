// What opening a device menu costs the main thread: the real window at its default size (offscreen)
// switching to the Measure page, whose interface picker is made when the page is shown, and the transport
// bar's output menu opening, with a private JACK server and a private PulseAudio server running, their
// devices listed beside ALSA's. For each opening it times the call itself (with the events it leaves,
// paint included) and then the longest stall of the main thread's event loop in the next half second,
// where a listing answered later would show; it prints the median and the longest of each, and of the
// call's CPU time on the main thread, which a loaded machine inflates less. The Measure
// page is timed once more on a scripted device that answers at once: the page's own cost.
//
//   device_menus_bench [--openings=N]    (--benchmark_* arguments of scripts/bench are accepted; a
//                                         --benchmark_filter that does not match "menus" skips the run)
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenu>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/QuorvelView.h"
#include "app/RoutePicker.h"
#include "bench/MainThreadTiming.h"
#include "engine/AudioHardware.h"
#include "kit/QVStyle.h"
#include "platform/LinuxAudioSystem.h"
#include "platform/VirtualAudioSystem.h"
#include "tests/support/JackTestServer.h"

using namespace quorvel;
using quorvel::bench::median;
using quorvel::bench::threadMS;

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "device_menus_bench: %s\n", what);
    return 1;
}

double milliseconds(const QElapsedTimer& clock) { return static_cast<double>(clock.nsecsElapsed()) / 1e6; }

// The longest gap between the ticks of a 1-ms timer while the event loop runs for `forMS`.
double longestStall(int forMS) {
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    double last = 0, worst = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double now = milliseconds(clock);
        worst = std::max(worst, now - last);
        last = now;
    });
    tick.start(1);
    QTimer::singleShot(forMS, &loop, &QEventLoop::quit);
    loop.exec();
    return std::max(worst, milliseconds(clock) - last);
}

struct Figures {
    std::vector<double> call;
    std::vector<double> callCPU;
    std::vector<double> stall;
};

double longest(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

// Times `open` `openings` times, each followed by `close` once the stall window has passed.
Figures time(int openings, const std::function<void()>& open, const std::function<void()>& close) {
    Figures f;
    for (int i = 0; i < openings; ++i) {
        longestStall(200);  // whatever the last opening left settles first
        QElapsedTimer clock;
        clock.start();
        const double cpu = threadMS();
        open();
        QCoreApplication::processEvents();
        f.call.push_back(milliseconds(clock));
        f.callCPU.push_back(threadMS() - cpu);
        f.stall.push_back(longestStall(500));
        close();
    }
    return f;
}

void print(const char* what, const Figures& f) {
    std::printf("  %-52s %8.1f %8.1f\n", (std::string(what) + ", the call").c_str(), median(f.call),
                longest(f.call));
    std::printf("  %-52s %8.1f %8.1f\n", (std::string(what) + ", the call's CPU time").c_str(),
                median(f.callCPU), longest(f.callCPU));
    std::printf("  %-52s %8.1f %8.1f\n", (std::string(what) + ", longest stall after").c_str(),
                median(f.stall), longest(f.stall));
}

}  // namespace

int main(int argc, char** argv) {
    int openings = 15;
    if (!bench::readOpenings(argc, argv, "menus", openings)) return 0;

    // Offscreen, with the settings and the PulseAudio server in a scratch folder, never the user's.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char scratch[] = "/tmp/qv-menus-bench-XXXXXX";
    if (!mkdtemp(scratch)) return fail("cannot make a scratch folder");
    setenv("XDG_CONFIG_HOME", scratch, 1);
    setenv("XDG_DATA_HOME", scratch, 1);
    const std::string pulseDir = std::string(scratch) + "/pulse";
    setenv("PULSE_SERVER", ("unix:" + pulseDir + "/native").c_str(), 1);
    int status = 0;
    {
        int qtArgc = 1;
        QApplication app(qtArgc, argv);
        QVStyle::apply();
        // One name per build folder (see analyser_bench).
        const std::string program = QCoreApplication::applicationFilePath().toStdString();
        JackTestServer jack("qv-bench-" + std::to_string(std::hash<std::string>{}(program) % 1000000));
        if (!jack.start()) return fail("jackd did not start");
        // Stopped by the pid its start recorded, whatever happens below.
        const std::unique_ptr<const std::string, void (*)(const std::string*)> pulse(
            &pulseDir, [](auto* dir) {
                std::system(("bash " QUORVEL_PULSE_STOP " '" + *dir + "' >/dev/null 2>&1").c_str());
            });
        if (std::system(("bash " QUORVEL_PULSE_START " '" + pulseDir + "' >/dev/null").c_str()) != 0)
            return fail("the PulseAudio server did not start");
        AudioHardware::install(std::make_shared<LinuxAudioSystem>());
        if (auto listed = AudioHardware::system().devices(); !listed || listed->size() < 5)
            status = fail("the JACK and PulseAudio devices are not listed");

        Figures measure, menu, page;
        if (status == 0) {
            QuorvelView view;
            view.resize(QuorvelView::kDefaultWidth, QuorvelView::kDefaultHeight);
            view.show();
            view.setTool(QuorvelTool::player);
            QCoreApplication::processEvents();
            measure = time(
                openings, [&] { view.setTool(QuorvelTool::measure); },
                [&] { view.setTool(QuorvelTool::player); });
            auto* route = view.findChild<RoutePicker*>();
            if (!route) return fail("no output menu");
            menu = time(
                openings, [&] { route->menu()->popup(route->mapToGlobal(QPoint(0, route->height()))); },
                [&] { route->menu()->hide(); });
            // The page's own cost, for comparison: the same with a scripted device that answers at once.
            AudioHardware::install(std::make_shared<VirtualAudioSystem>(
                std::vector<VirtualDevice>{{.name = "Interface", .inputChannels = 4, .outputChannels = 4}}));
            page = time(
                openings, [&] { view.setTool(QuorvelTool::measure); },
                [&] { view.setTool(QuorvelTool::player); });
            view.stopAll();
        }
        if (status == 0) {
            std::printf("Device menus with JACK, PulseAudio and ALSA, %d openings each (ms, target < 16)\n",
                        openings);
            std::printf("  %-52s %8s %8s\n", "", "median", "longest");
            print("Measure page", measure);
            print("output menu", menu);
            print("Measure page, scripted device", page);
        }
    }
    std::system(("rm -rf '" + std::string(scratch) + "'").c_str());
    return status;
}
