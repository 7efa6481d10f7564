// The window's main thread while the Measure page shows a live FFT: the real window at its default size
// (offscreen), the microphone on pink noise through a private JACK server at 48 kHz, the page in FFT
// mode. Measures the CPU time of the main thread over 20 s by default (everything it does: the
// analyser's share of the capture, publishing, layout and painting) and prints it as a share of one
// core next to the target.
//
//   measure_bench [--seconds=N]     (--benchmark_* arguments of scripts/bench are accepted; a
//                                    --benchmark_filter that does not match "measure" skips the run)
#include <stdlib.h>
#include <time.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <regex>
#include <string>

#include "app/QuorvelView.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "kit/QVStyle.h"
#include "platform/LinuxAudioSystem.h"
#include "screens/AnalyzerView.h"
#include "tests/support/JackTestServer.h"

using namespace quorvel;

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "measure_bench: %s\n", what);
    return 1;
}

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double wallSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 20;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--seconds=", 0) == 0) seconds = std::stod(arg.substr(10));
        if (arg.rfind("--benchmark_filter=", 0) == 0 &&
            !std::regex_search("measure", std::regex(arg.substr(19)))) {
            std::printf("measure_bench: skipped by the filter\n");
            return 0;
        }
    }

    // Offscreen, with the store's files and the interface choice in a scratch folder, never the user's.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char scratch[] = "/tmp/qv-measure-bench-XXXXXX";
    if (!mkdtemp(scratch)) return fail("cannot make a scratch folder");
    setenv("XDG_CONFIG_HOME", scratch, 1);
    setenv("XDG_DATA_HOME", scratch, 1);
    int status = 0;
    {
        int qtArgc = 1;
        QApplication app(qtArgc, argv);
        QVStyle::apply();
        // One name per build folder (see analyser_bench).
        const std::string program = QCoreApplication::applicationFilePath().toStdString();
        JackTestServer server("qv-bench-" + std::to_string(std::hash<std::string>{}(program) % 1000000));
        if (!server.start()) return fail("jackd did not start");
        if (!server.startInterface(
                QUORVEL_JACK_INTERFACE,
                {"--name", "qv-mic", "--capture", "1", "--playback", "0", "--noise", "1=0"},
                "qv-mic:capture_1"))
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

        QuorvelView view;
        view.resize(QuorvelView::kDefaultWidth, QuorvelView::kDefaultHeight);
        view.show();
        view.setTool(QuorvelTool::measure);
        auto* page = qobject_cast<AnalyzerView*>(view.currentPage());
        if (!page) return fail("no Measure page");
        page->setMode(SpectrumMode::fft);
        MicAnalyzer& analyzer = view.analyzer();

        long spectra = 0;
        QObject::connect(&analyzer, &MicAnalyzer::spectrumChanged, [&] { ++spectra; });
        analyzer.start();
        // The clock starts with the first spectrum shown, so that opening the stream is not counted. The
        // figures are taken before the application quits, which closes the window and so stops everything.
        double cpu0 = 0, wall0 = 0, cpu = 0, wall = 0;
        long spectra0 = 0;
        bool ran = false;
        const auto finish = [&] {
            cpu = threadSeconds() - cpu0;
            wall = wallSeconds() - wall0;
            ran = analyzer.running();
            QApplication::quit();
        };
        QMetaObject::Connection first = QObject::connect(&analyzer, &MicAnalyzer::spectrumChanged, [&] {
            if (wall0 > 0) return;
            QApplication::processEvents();  // the first paint
            cpu0 = threadSeconds();
            wall0 = wallSeconds();
            spectra0 = spectra;
            QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer, &app, finish);
        });
        QTimer::singleShot(static_cast<int>((seconds + 30) * 1000), &app, &QApplication::quit);
        app.exec();
        QObject::disconnect(first);
        const QString lastStatus = analyzer.status();
        view.stopAll();
        if (!ran || wall0 <= 0) {
            std::fprintf(stderr, "measure_bench: no live spectrum: %s\n", lastStatus.toUtf8().constData());
            status = 1;
        } else {
            std::printf("Measure page, live FFT at 48 kHz through JACK, window %d x %d, for %.1f s\n",
                        QuorvelView::kDefaultWidth, QuorvelView::kDefaultHeight, wall);
            std::printf("  %-46s %8.2f\n", "spectra shown per second",
                        static_cast<double>(spectra - spectra0) / wall);
            std::printf("  %-46s %8.1f   (target < 10)\n", "main thread CPU, % of one core",
                        100 * cpu / wall);
        }
    }
    std::system(("rm -rf '" + std::string(scratch) + "'").c_str());
    return status;
}
