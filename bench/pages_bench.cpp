// What opening each page costs the main thread: the real window at its default size (offscreen, or on the
// display QT_QPA_PLATFORM names), a scripted audio interface that answers at once, and each tool chosen
// from the running event loop as a click would choose it (from the Player page; the Player page from
// Signals). For each opening it takes the main thread's CPU time from the switch to the end of the new
// page's first frame (what the user waits for), and to the end of everything the switch set off (a later
// layout or paint of the page, the old page's deletion), which a loaded machine inflates less than the
// wall clock, and counts the frames that paint the page. Prints the median of each and the times' ratios
// to one 16-ms frame, the target.
//
//   pages_bench [--openings=N]    (--benchmark_* arguments of scripts/bench are accepted; a
//                                  --benchmark_filter that does not match "pages" skips the run)
//
// Instruction counts, which are the same on a busy machine, come from the same run under callgrind:
// collection is on only from each switch until it has settled, and each page's openings are dumped
// under its name:
//   valgrind --tool=callgrind --collect-atstart=no pages_bench --openings=3
//   (then "summary:" of each callgrind.out.<pid>.<n>, whose "desc: Trigger:" names the page)
#include <stdlib.h>
#include <valgrind/callgrind.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/QuorvelView.h"
#include "bench/MainThreadTiming.h"
#include "engine/AudioHardware.h"
#include "kit/QVStyle.h"
#include "platform/VirtualAudioSystem.h"

using namespace quorvel;
using quorvel::bench::median;
using quorvel::bench::threadMS;

namespace {

// Watches the application's events during one opening: the end of the new page's first frame is the first
// event after the paints that drew it, and the opening has settled once nothing of the window has been
// laid out or painted for a while.
class Opening : public QObject {
public:
    QPointer<QWidget> page;
    double frameCPU = -1;  // thread CPU time when the first frame had been painted
    int frames = 0;        // paints of the page itself
    QElapsedTimer sinceWork;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::Paint || type == QEvent::LayoutRequest || type == QEvent::UpdateRequest)
            sinceWork.restart();
        if (page && type == QEvent::Paint && watched == page) ++frames;
        if (frameCPU >= 0 || !page) return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        const bool ofPage = widget && (widget == page || page->isAncestorOf(widget));
        if (type == QEvent::Paint && ofPage) {
            painting_ = true;
        } else if (painting_ && type != QEvent::Paint) {
            frameCPU = threadMS();
        }
        return false;
    }

private:
    bool painting_ = false;
};

struct Figures {
    std::vector<double> frame;    // CPU ms to the end of the first frame
    std::vector<double> settled;  // CPU ms to the end of everything the switch set off
    std::vector<double> frames;   // frames that painted the page
};

// Runs the event loop until nothing has been laid out or painted for `quietMS` (and `minMS` have passed).
void settle(Opening& watch, int minMS, int quietMS) {
    QElapsedTimer clock;
    clock.start();
    watch.sinceWork.restart();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (clock.elapsed() >= minMS && watch.sinceWork.elapsed() >= quietMS) loop.quit();
    });
    poll.start(10);
    loop.exec();
}

// Opens `tool` from `from`, `openings` times.
Figures open(QuorvelView& view, QuorvelTool tool, QuorvelTool from, int openings) {
    Figures f;
    Opening watch;
    qApp->installEventFilter(&watch);
    for (int i = 0; i < openings; ++i) {
        view.setTool(from);
        settle(watch, 100, 100);
        watch.page = nullptr;
        watch.frameCPU = -1;
        watch.frames = 0;
        double start = 0;
        // From the running event loop, as a click on the sidebar runs.
        QTimer::singleShot(0, &view, [&] {
            CALLGRIND_TOGGLE_COLLECT;
            start = threadMS();
            view.setTool(tool);
            watch.page = view.currentPage();
        });
        settle(watch, 300, 150);
        const double end = threadMS();
        CALLGRIND_TOGGLE_COLLECT;
        f.frame.push_back(watch.frameCPU >= 0 ? watch.frameCPU - start : -1);
        f.settled.push_back(end - start);
        f.frames.push_back(watch.frames);
    }
    qApp->removeEventFilter(&watch);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    int openings = 15;
    if (!bench::readOpenings(argc, argv, "pages", openings)) return 0;

    // Offscreen unless told otherwise (QT_QPA_PLATFORM=xcb under Xvfb shows the real window's costs), with
    // the stores and settings in a scratch folder, never the user's.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("MPD_HOST", "127.0.0.1", 1);
    setenv("MPD_PORT", "1", 1);
    char scratch[] = "/tmp/qv-pages-bench-XXXXXX";
    if (!mkdtemp(scratch)) return 1;
    setenv("XDG_CONFIG_HOME", scratch, 1);
    setenv("XDG_DATA_HOME", scratch, 1);
    {
        int qtArgc = 1;
        QApplication app(qtArgc, argv);
        QVStyle::apply();
        AudioHardware::install(std::make_shared<VirtualAudioSystem>(
            std::vector<VirtualDevice>{{.name = "Interface", .inputChannels = 4, .outputChannels = 4}}));
        QuorvelView view;
        view.resize(QuorvelView::kDefaultWidth, QuorvelView::kDefaultHeight);
        view.show();
        // Every page once first, so that what is made once per process (fonts, icons) is not counted.
        for (QuorvelTool tool : QuorvelTools::allCases) {
            view.setTool(tool);
            Opening idle;
            settle(idle, 100, 100);
        }

        std::printf("Opening each page, %d openings each, window %d x %d, main-thread CPU ms (median)\n",
                    openings, QuorvelView::kDefaultWidth, QuorvelView::kDefaultHeight);
        std::printf("  %-16s %12s %9s %12s %9s %7s\n", "page", "first frame", "/ 16 ms", "all it set off",
                    "/ 16 ms", "frames");
        for (QuorvelTool tool : QuorvelTools::allCases) {
            const QuorvelTool from =
                tool == QuorvelTool::player ? QuorvelTool::signals_ : QuorvelTool::player;
            const Figures f = open(view, tool, from, openings);
            CALLGRIND_DUMP_STATS_AT(QuorvelTools::rawValue(tool).toUtf8().constData());
            const double frame = median(f.frame), settled = median(f.settled);
            std::printf("  %-16s %12.1f %9.2f %12.1f %9.2f %7.0f\n",
                        QuorvelTools::title(tool).toUtf8().constData(), frame, frame / 16, settled,
                        settled / 16, median(f.frames));
        }
        std::printf("  (target: each ratio <= 1)\n");
        view.stopAll();
    }
    std::system(("rm -rf '" + std::string(scratch) + "'").c_str());
    return 0;
}
