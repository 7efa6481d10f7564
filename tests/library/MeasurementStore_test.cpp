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

// Failed loads and saves are reported and keep every trace; a later save writes them all.
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

    // A plain file in the folder's place refuses everyone (root writes into read-only folders).
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

// A file of the earlier writer, which held the whole text in memory, comes back byte for byte from a
// save: texts with escapes, a NUL and characters beyond the BMP, -0.0, the extremes of doubles and ints,
// a trace with no bins (see data/measurements-earlier-writer.json).
TEST_F(MeasurementStoreTest, ASaveWritesTheEarlierWritersFileByteForByte) {
    const QByteArray earlier = read(QUORVEL_TEST_DATA_DIR "/measurements-earlier-writer.json");
    ASSERT_FALSE(earlier.isEmpty());
    QDir().mkpath(folder);
    LibraryTestFiles::write(file, earlier);
    MeasurementStore store(clock());
    ASSERT_EQ(store.traces().size(), 3u) << store.message().toStdString();
    store.save();
    store.waitForFile();
    EXPECT_TRUE(store.message().isEmpty()) << store.message().toStdString();
    const QByteArray written = read(file);
    EXPECT_EQ(written, earlier);
    if (written != earlier) {
        QDir().mkpath(QUORVEL_TEST_OUTPUT_DIR);
        LibraryTestFiles::write(QUORVEL_TEST_OUTPUT_DIR "/measurements-written.json", written);
    }
}

// Saves and loads run on the worker; a newer list replaces a waiting one; the store waits for the disk.
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
