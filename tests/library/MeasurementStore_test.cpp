#include "library/MeasurementStore.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <future>

#include "LibraryTestFiles.h"
#include "dsp/TransferJSON.h"
#include "library/SerialWorker.h"

namespace quorvel {

using LibraryTestFiles::read;

namespace {

const QString kWait = "Wait for a valid reference/mic transfer measurement.";
const QString kLoadFailed = "Measurements could not be loaded: ";
const QString kSaveFailed = "Measurements could not be saved: ";

std::vector<TransferTrace> onDisk(const QString& path) {
    const QByteArray bytes = read(path);
    auto decoded = TransferJSON::decode(std::string_view(bytes.constData(), size_t(bytes.size())));
    EXPECT_TRUE(decoded) << path.toStdString();
    return decoded ? *decoded : std::vector<TransferTrace>{};
}

std::vector<std::string> names(const MeasurementStore& store) {
    std::vector<std::string> out;
    for (const TransferTrace& t : store.traces()) out.push_back(t.name);
    return out;
}

// Every test gets its own storage folder; a fake clock stands for the current time.
class MeasurementStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        const QString dataHome = LibraryTestFiles::freshDir("data");
        qputenv("XDG_DATA_HOME", dataHome.toUtf8());
        folder = dataHome + "/Quorvel";
        file = folder + "/measurements.json";
    }

    MeasurementStore::Clock clock() {
        return [this] { return now; };
    }

    // A result that passes every gate: half a second old.
    CaptureSource liveResult() const {
        CaptureSource s{true, now - 0.5, 12.25, {}, 5, 48000, 11.5, 0, 1, "device:7"};
        for (int k = 1; k <= 40; ++k)
            s.transfer.push_back({k, 48000.0 * k / 16384, std::cos(k) / 3, std::sin(k) / 7, 0.9});
        return s;
    }

    QString folder, file;
    ReferenceDate now = 786000000.25;
};

}  // namespace

TEST_F(MeasurementStoreTest, CaptureGatesRefuseWithoutTouchingTheList) {
    MeasurementStore store(clock());
    EXPECT_TRUE(store.traces().empty());
    EXPECT_TRUE(store.message().isEmpty());
    EXPECT_EQ(store.url(), file);
    EXPECT_TRUE(QFileInfo(folder).isDir());
    int tracesSignals = 0;
    QObject::connect(&store, &MeasurementStore::tracesChanged, [&] { ++tracesSignals; });

    const std::pair<const char*, std::function<void(CaptureSource&)>> refusals[] = {
        {"stopped", [](CaptureSource& s) { s.running = false; }},
        {"no result yet", [](CaptureSource& s) { s.lastUpdated.reset(); }},
        {"2.0 s old", [this](CaptureSource& s) { s.lastUpdated = now - 2.0; }},
        {"a time that is no time", [](CaptureSource& s) { s.lastUpdated = NAN; }},
        {"no delay", [](CaptureSource& s) { s.delayMS.reset(); }},
        {"no bins", [](CaptureSource& s) { s.transfer.clear(); }},
        {"2 averages", [](CaptureSource& s) { s.averages = 2; }},
        {"equal channels", [](CaptureSource& s) { s.captureMicChannel = s.captureReferenceChannel = 0; }},
    };
    for (const auto& [what, breakIt] : refusals) {
        CaptureSource s = liveResult();
        breakIt(s);
        store.capture(s, "", "Listener position", "Default setup");  // the name is looked at only afterwards
        EXPECT_EQ(store.message(), kWait) << what;
        store.capture(s, "Main L", "Listener position", "Default setup");
        EXPECT_EQ(store.message(), kWait) << what;
    }
    for (const QString& blank : {QString(""), QString("  "), QString("\t\u00A0\u2003 ")}) {
        store.capture(liveResult(), blank, "", "");
        EXPECT_EQ(store.message(), "Name the measurement first.");
    }
    EXPECT_TRUE(store.traces().empty());
    EXPECT_EQ(tracesSignals, 0);
    EXPECT_FALSE(QFileInfo::exists(file));
}

TEST_F(MeasurementStoreTest, CaptureStoresTheResultAsTypedAndPersists) {
    Uuid firstId;
    {
        MeasurementStore store(clock());
        int messageSignals = 0;
        QObject::connect(&store, &MeasurementStore::messageChanged, [&] { ++messageSignals; });
        CaptureSource s = liveResult();
        s.lastUpdated = now - 1.9;
        store.capture(s, " Main L ", "", "");
        store.waitForFile();
        EXPECT_EQ(store.message(), "Captured  Main L ");
        EXPECT_EQ(messageSignals, 1);
        ASSERT_EQ(store.traces().size(), 1u);
        const TransferTrace& t = store.traces()[0];
        EXPECT_EQ(t, (TransferTrace{t.id, " Main L ", now, 48000, 11.5, 12.25, 0, 1, s.transfer, 5, "", "",
                                    "device:7"}));
        firstId = t.id;
        // Three averages, a stamp from the future, and a name that is only a line break all pass.
        s = liveResult();
        s.averages = 3;
        s.lastUpdated = now + 5;
        store.capture(s, "\n", "FOH \u00B7 row 12", "Show");
        store.waitForFile();
        EXPECT_EQ(store.message(), "Captured \n");
        ASSERT_EQ(store.traces().size(), 2u);
        EXPECT_NE(store.traces()[1].id, firstId);
        EXPECT_EQ(store.traces()[1].position, "FOH \u00B7 row 12");
        EXPECT_EQ(onDisk(file), store.traces());
    }
    MeasurementStore reloaded(clock());
    EXPECT_TRUE(reloaded.message().isEmpty());
    ASSERT_EQ(names(reloaded), (std::vector<std::string>{" Main L ", "\n"}));
    EXPECT_EQ(reloaded.traces()[0].id, firstId);

    // Deleting goes through the list, then save; an unchanged list is no change.
    int tracesSignals = 0;
    QObject::connect(&reloaded, &MeasurementStore::tracesChanged, [&] { ++tracesSignals; });
    auto list = reloaded.traces();
    reloaded.setTraces(list);
    EXPECT_EQ(tracesSignals, 0);
    list.erase(list.begin());
    reloaded.setTraces(list);
    EXPECT_EQ(tracesSignals, 1);
    reloaded.save();
    reloaded.waitForFile();
    EXPECT_TRUE(reloaded.message().isEmpty());
    EXPECT_EQ(onDisk(file), list);
}

// A file that fails to decode is reported, kept aside untouched and replaced by the next save; a save
// that fails keeps the list and says why, and a later save writes it all.
TEST_F(MeasurementStoreTest, FailedLoadsAndSavesKeepEveryTraceAndSayWhy) {
    QDir().mkpath(folder);
    const QByteArray bad = "[{\"id\":1}]";
    LibraryTestFiles::write(file, bad);
    MeasurementStore store(clock());
    EXPECT_TRUE(store.message().startsWith(kLoadFailed));
    EXPECT_GT(store.message().size(), kLoadFailed.size());
    EXPECT_TRUE(store.traces().empty());
    store.capture(liveResult(), "Main L", "", "");
    store.waitForFile();
    ASSERT_EQ(store.message(), "Captured Main L");
    const QStringList kept = QDir(folder).entryList({"measurements.unreadable-*.json"}, QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(read(folder + "/" + kept[0]), bad);
    EXPECT_EQ(onDisk(file), store.traces());

    // The storage folder becomes a place that takes no files. (Tests run as root, which writes into a
    // chmod-read-only folder regardless; a plain file standing in for the folder refuses everyone.)
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(QFile(folder).open(QIODevice::WriteOnly));
    store.capture(liveResult(), "Sub", "", "");
    store.waitForFile();
    EXPECT_TRUE(store.message().startsWith(kSaveFailed)) << store.message().toStdString();
    EXPECT_GT(store.message().size(), kSaveFailed.size());
    EXPECT_EQ(names(store), (std::vector<std::string>{"Main L", "Sub"}));
    const QString failure = store.message();
    // Once the folder is back, a save writes both and leaves the message alone.
    ASSERT_TRUE(QFile::remove(folder) && QDir().mkpath(folder));
    store.save();
    store.waitForFile();
    EXPECT_EQ(store.message(), failure);
    EXPECT_EQ(onDisk(file), store.traces());

    // A store whose folder cannot be created starts empty with the load message.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    QFile(folder).open(QIODevice::WriteOnly);
    qputenv("XDG_DATA_HOME", (folder + "/inside").toUtf8());
    MeasurementStore homeless(clock());
    EXPECT_TRUE(homeless.message().startsWith(kLoadFailed));
    EXPECT_TRUE(homeless.traces().empty());
}

// Saves are written on the worker while the window goes on; a newer list replaces one still waiting its
// turn, and the store does not go before what was asked for is on disk. A file read in the background
// keeps what was captured meanwhile, and a save asked for meanwhile waits for it.
TEST_F(MeasurementStoreTest, SavesAndLoadsRunBesideTheWindow) {
    // Holding the worker makes the order of events certain.
    const auto hold = [] {
        auto release = std::make_shared<std::promise<void>>();
        SerialWorker::files().post([held = release->get_future().share()] { held.wait(); });
        return release;
    };
    QStringList messages;
    {
        MeasurementStore store(clock());
        QObject::connect(&store, &MeasurementStore::messageChanged, [&] { messages << store.message(); });
        auto release = hold();
        store.capture(liveResult(), "A", "", "");
        store.capture(liveResult(), "B", "", "");
        EXPECT_FALSE(QFileInfo::exists(file));
        EXPECT_TRUE(messages.isEmpty());
        release->set_value();
    }
    EXPECT_EQ(messages, QStringList{"Captured B"});
    ASSERT_EQ(onDisk(file).size(), 2u);

    auto release = hold();
    MeasurementStore later(clock(), MeasurementStore::Loading::inBackground);
    EXPECT_TRUE(later.traces().empty());
    later.capture(liveResult(), "C", "", "");
    EXPECT_EQ(later.traces().size(), 1u);
    release->set_value();
    later.waitForFile();
    EXPECT_EQ(names(later), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(later.message(), "Captured C");
    EXPECT_EQ(onDisk(file), later.traces());
}

}  // namespace quorvel
