// The gates of a capture: a live result that is not fresh and complete, or a blank name, is refused with
// its message and changes nothing else.
#include <gtest/gtest.h>

#include <QFile>
#include <cmath>
#include <functional>

#include "LibraryTestFiles.h"
#include "library/MeasurementStore.h"

namespace quorvel {

TEST(MeasurementCapture, RefusesAStaleOrIncompleteResultThenABlankName) {
    const QString dataHome = LibraryTestFiles::freshDir("capture-gates");
    qputenv("XDG_DATA_HOME", dataHome.toUtf8());
    const ReferenceDate now = 786000000.25;
    // Passes every gate: half a second old, three averages, one bin, two channels.
    const CaptureSource valid{true, now - 0.5, 12.25, {{1, 2.9, 0.5, 0.1, 0.9}}, 3, 48000, 12.25,
                              0,    1,         "dev"};
    const QString wait = "Wait for a valid reference/mic transfer measurement.";
    const QString nameFirst = "Name the measurement first.";

    const struct {
        const char* what;
        std::function<void(CaptureSource&)> spoil;
        QString name, message;
    } cases[] = {
        {"analyser stopped", [](CaptureSource& s) { s.running = false; }, "Main", wait},
        {"no result yet", [](CaptureSource& s) { s.lastUpdated.reset(); }, "Main", wait},
        {"exactly 2.0 s old", [&](CaptureSource& s) { s.lastUpdated = now - 2.0; }, "Main", wait},
        {"time stamp not a number", [](CaptureSource& s) { s.lastUpdated = NAN; }, "Main", wait},
        {"no delay", [](CaptureSource& s) { s.delayMS.reset(); }, "Main", wait},
        {"no bins", [](CaptureSource& s) { s.transfer.clear(); }, "Main", wait},
        {"two averages", [](CaptureSource& s) { s.averages = 2; }, "Main", wait},
        {"mic and reference on one input", [](CaptureSource& s) { s.captureReferenceChannel = 0; }, "Main",
         wait},
        {"a failed gate before a blank name", [](CaptureSource& s) { s.running = false; }, " ", wait},
        {"empty name", [](CaptureSource&) {}, "", nameFirst},
        {"spaces, tabs, no-break and em spaces", [](CaptureSource&) {}, " \t\u00A0\u2003 ", nameFirst},
    };
    for (const auto& c : cases) {
        MeasurementStore store([&] { return now; });
        CaptureSource source = valid;
        c.spoil(source);
        store.capture(source, c.name, "", "");
        EXPECT_EQ(store.message(), c.message) << c.what;
        EXPECT_TRUE(store.traces().empty()) << c.what;
        store.waitForFile();
    }
    EXPECT_FALSE(QFile::exists(dataHome + "/Quorvel/measurements.json")) << "a refusal writes nothing";

    MeasurementStore store([&] { return now; });
    store.capture(valid, "Main", "", "");
    store.waitForFile();
    EXPECT_EQ(store.message(), "Captured Main");
}

}  // namespace quorvel
