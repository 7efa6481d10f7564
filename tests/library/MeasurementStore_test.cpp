#include "library/MeasurementStore.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <future>
#include <nlohmann/json.hpp>

#include "LibraryTestFiles.h"
#include "dsp/TransferJSON.h"
#include "library/SerialWorker.h"
#include "library/StoreFiles.h"

namespace quorvel {

using LibraryTestFiles::read;

namespace {

const QString kWait = "Wait for a valid reference/mic transfer measurement.";
const QString kLoadFailed = "Measurements could not be loaded: ";
const QString kSaveFailed = "Measurements could not be saved: ";

std::vector<TransferBin> someBins(int count, double seed) {
    std::vector<TransferBin> bins;
    for (int k = 1; k <= count; ++k)
        bins.push_back({k, 48000.0 * k / 16384, std::cos(seed * k) / 3, std::sin(seed * k) / 7,
                        0.5 + 0.49 * std::sin(k)});
    return bins;
}

Result<std::vector<TransferTrace>> decodeFile(const QString& path) {
    const QByteArray bytes = read(path);
    return TransferJSON::decode(std::string_view(bytes.constData(), size_t(bytes.size())));
}

QStringList unreadableCopies(const QString& folder) {
    return QDir(folder).entryList({"measurements.unreadable-*.json"}, QDir::Files);
}

// Every test gets its own storage folder; a fake clock stands for the current time.
class MeasurementStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        dataHome = LibraryTestFiles::freshDir("data");
        qputenv("XDG_DATA_HOME", dataHome.toUtf8());
        folder = dataHome + "/Quorvel";
        file = folder + "/measurements.json";
    }

    MeasurementStore::Clock clock() {
        return [this] { return now; };
    }

    // A result that passes every gate: half a second old.
    CaptureSource liveResult() const {
        CaptureSource s;
        s.running = true;
        s.lastUpdated = now - 0.5;
        s.delayMS = 12.25;
        s.transfer = someBins(40, 0.3);
        s.averages = 5;
        s.sampleRate = 48000;
        s.compensationMS = 11.5;
        s.captureMicChannel = 0;
        s.captureReferenceChannel = 1;
        s.hardwareIdentity = "device:7";
        return s;
    }

    QString dataHome, folder, file;
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

    const std::vector<std::pair<const char*, std::function<void(CaptureSource&)>>> refusals = {
        {"stopped", [](CaptureSource& s) { s.running = false; }},
        {"no result yet", [](CaptureSource& s) { s.lastUpdated.reset(); }},
        {"2.0 s old", [this](CaptureSource& s) { s.lastUpdated = now - 2.0; }},
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
        const TransferTrace expected{t.id, " Main L ", now, 48000, 11.5, 12.25,     0,
                                     1,    s.transfer, 5,   "",    "",   "device:7"};
        EXPECT_EQ(t, expected);
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
    }
    MeasurementStore reloaded(clock());
    EXPECT_TRUE(reloaded.message().isEmpty());
    ASSERT_EQ(reloaded.traces().size(), 2u);
    EXPECT_EQ(reloaded.traces()[0].id, firstId);
    EXPECT_EQ(reloaded.traces()[0].name, " Main L ");
    EXPECT_EQ(reloaded.traces()[1].name, "\n");

    // Deleting goes through the list, then save.
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
    auto onDisk = decodeFile(file);
    ASSERT_TRUE(onDisk);
    EXPECT_EQ(onDisk.value(), list);
}

TEST_F(MeasurementStoreTest, FileIsACompactArrayWithEveryKeyInOrder) {
    MeasurementStore store(clock());
    store.capture(liveResult(), "Sub", "Listener position", "Default setup");
    store.capture(liveResult(), "Main", "Listener position", "Default setup");
    store.waitForFile();
    const QByteArray bytes = read(file);

    const auto json = nlohmann::ordered_json::parse(bytes.toStdString());
    ASSERT_TRUE(json.is_array());
    ASSERT_EQ(json.size(), 2u);
    EXPECT_EQ(json.dump(), bytes.toStdString());  // compact, and nothing the parser would reorder or drop
    const std::vector<std::string> traceKeys = {
        "id",        "name",       "captured",         "sampleRate", "compensationMS",
        "arrivalMS", "micChannel", "referenceChannel", "bins",       "averages",
        "position",  "setupID",    "hardwareIdentity"};
    const std::vector<std::string> binKeys = {"id", "hz", "real", "imag", "coherence"};
    const auto keysOf = [](const nlohmann::ordered_json& object) {
        std::vector<std::string> keys;
        for (const auto& item : object.items()) keys.push_back(item.key());
        return keys;
    };
    EXPECT_EQ(keysOf(json[0]), traceKeys);
    EXPECT_EQ(keysOf(json[0]["bins"][0]), binKeys);
    EXPECT_EQ(json[0]["name"], "Sub");
    EXPECT_EQ(json[1]["name"], "Main");
    EXPECT_EQ(json[0]["id"], store.traces()[0].id.toString());
    EXPECT_EQ(json[0]["captured"].get<double>(), now);
    EXPECT_TRUE(json[0]["micChannel"].is_number_integer());
    EXPECT_TRUE(json[0]["averages"].is_number_integer());
    EXPECT_TRUE(json[0]["bins"][0]["id"].is_number_integer());

    // Dropping any one key fails the whole file: the load message, an empty list, and the file kept aside
    // untouched while the next capture writes a fresh one.
    const auto dropOne = [&](const std::function<void(nlohmann::ordered_json&)>& drop) {
        nlohmann::ordered_json broken = json;
        drop(broken);
        const QByteArray bad = QByteArray::fromStdString(broken.dump());
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        QString error;
        ASSERT_TRUE(StoreFiles::writeAtomically(file, bad, &error));

        MeasurementStore reloaded(clock());
        EXPECT_TRUE(reloaded.message().startsWith(kLoadFailed));
        EXPECT_GT(reloaded.message().size(), kLoadFailed.size());
        EXPECT_TRUE(reloaded.traces().empty());
        reloaded.capture(liveResult(), "New", "Listener position", "Default setup");
        reloaded.capture(liveResult(), "Newer", "Listener position", "Default setup");
        reloaded.waitForFile();
        EXPECT_EQ(reloaded.message(), "Captured Newer");

        const QStringList kept = unreadableCopies(folder);
        ASSERT_EQ(kept.size(), 1);
        EXPECT_EQ(read(folder + "/" + kept[0]), bad);
        auto fresh = decodeFile(file);
        ASSERT_TRUE(fresh);
        EXPECT_EQ(fresh.value(), reloaded.traces());
    };
    // (Every key's own refusal is the decoder's test.)
    dropOne([&](nlohmann::ordered_json& j) { j[1].erase("averages"); });
}

TEST_F(MeasurementStoreTest, FailedSaveKeepsTheListAndSaysWhy) {
    MeasurementStore store(clock());
    store.capture(liveResult(), "Main L", "", "");
    store.waitForFile();
    ASSERT_EQ(store.message(), "Captured Main L");

    // The storage folder becomes a place that takes no files. (Tests run as root, which writes into a
    // chmod-read-only folder regardless; a plain file standing in for the folder refuses everyone.)
    ASSERT_TRUE(QDir(folder).removeRecursively());
    {
        QFile blocker(folder);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    store.capture(liveResult(), "Sub", "", "");
    store.waitForFile();
    EXPECT_TRUE(store.message().startsWith(kSaveFailed)) << store.message().toStdString();
    EXPECT_GT(store.message().size(), kSaveFailed.size());
    ASSERT_EQ(store.traces().size(), 2u);
    EXPECT_EQ(store.traces()[1].name, "Sub");
    const QString failure = store.message();
    store.save();
    store.waitForFile();
    EXPECT_EQ(store.message(), failure);

    // Once the folder is back, a save writes both and leaves the message alone.
    ASSERT_TRUE(QFile::remove(folder));
    ASSERT_TRUE(QDir().mkpath(folder));
    store.save();
    store.waitForFile();
    EXPECT_EQ(store.message(), failure);
    auto onDisk = decodeFile(file);
    ASSERT_TRUE(onDisk);
    EXPECT_EQ(onDisk.value(), store.traces());

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
// keeps what was captured meanwhile.
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
    auto onDisk = decodeFile(file);
    ASSERT_TRUE(onDisk);
    ASSERT_EQ(onDisk->size(), 2u);

    auto release = hold();
    MeasurementStore later(clock(), MeasurementStore::Loading::inBackground);
    EXPECT_TRUE(later.traces().empty());
    later.capture(liveResult(), "C", "", "");
    EXPECT_EQ(later.traces().size(), 1u);
    release->set_value();
    later.waitForFile();
    std::vector<std::string> names;
    for (const TransferTrace& t : later.traces()) names.push_back(t.name);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(later.message(), "Captured C");
    onDisk = decodeFile(file);
    ASSERT_TRUE(onDisk);
    EXPECT_EQ(onDisk.value(), later.traces());
}

}  // namespace quorvel
