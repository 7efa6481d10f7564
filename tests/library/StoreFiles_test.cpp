// The stores against a full disk, low memory and hostile files; limits are set in a forked child.
#include "library/StoreFiles.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

#include "LibraryTestFiles.h"
#include "QtPrinting.h"
#include "dsp/TransferJSON.h"
#include "library/LibraryStore.h"
#include "library/MeasurementStore.h"

namespace quorvel {

using namespace LibraryTestFiles;

namespace {

bool singleThreaded() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}) == 1;
}

// Runs `body` in a child process under `resource` = `limit` and returns what it reported, or how it died.
std::string inChild(int resource, rlim_t limit, const std::function<std::string()>& body) {
    int ends[2];
    if (pipe(ends) != 0) return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        signal(SIGXFSZ, SIG_IGN);  // a write past the size limit then fails with EFBIG
        const rlimit bound{limit, limit};
        if (setrlimit(resource, &bound) != 0) _exit(2);
        const std::string report = body();
        [[maybe_unused]] auto written = ::write(ends[1], report.data(), report.size());
        _exit(0);
    }
    close(ends[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;) report.append(buffer, size_t(n));
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        report += " (the child died, status " + std::to_string(status) + ")";
    return report;
}

// The process's address space now, from /proc (a limit below it would stop the child at once).
rlim_t addressSpaceInUse() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7)) * 1024;
    return 0;
}

std::vector<TransferTrace> tracesOfAbout(qsizetype bytes) {
    TransferTrace trace;
    for (int k = 1; k <= bytes / 100; ++k) trace.bins.push_back({k, 2.9296875 * k, 0.1 / k, -0.2 / k, 0.9});
    return {trace};
}

// A store folder below a fresh data home.
QString storeFolder(const QString& label) {
    const QString dataHome = freshDir(label);
    qputenv("XDG_DATA_HOME", dataHome.toUtf8());
    QDir().mkpath(dataHome + "/Quorvel");
    return dataHome + "/Quorvel";
}

QStringList filesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

}  // namespace

// A full disk or size limit fails the save and leaves the old file byte for byte, small saves too.
TEST(StoreFiles, SavesThatHitASizeLimitFailAndKeepTheOldFile) {
    if (!singleThreaded()) GTEST_SKIP() << "fork() needs a single-threaded process";
    struct Case {
        rlim_t limit;
        qsizetype bytes;
    };
    const Case cases[] = {{1024, 2048}, {8192, 15 * 1024}, {64 * 1024, 200 * 1024}, {1 << 20, 3 << 20}};
    for (const Case& c : cases) {
        SCOPED_TRACE("limit " + std::to_string(c.limit) + ", save of about " + std::to_string(c.bytes));
        const QString dir = storeFolder("limit");
        {
            LibraryStore library(dir);
            ASSERT_TRUE(library.save());
            MeasurementStore measurements;
            measurements.setTraces(tracesOfAbout(300));
            measurements.save();
        }
        const QByteArray oldPlaylists = read(dir + "/playlists.json"),
                         oldTraces = read(dir + "/measurements.json");
        write(dir + "/source.wav", QByteArray(c.bytes, 's'));
        const QStringList before = filesIn(dir);

        const std::string report = inChild(RLIMIT_FSIZE, c.limit, [&] {
            LibraryStore library(dir);
            library.setPlaylists(
                {{.name = "Set",
                  .tracks = {
                      {.title = "S", .musicID = "i.1", .musicPayload = QByteArray(c.bytes * 3 / 4, 'p')}}}});
            const bool saved = library.save();
            MeasurementStore measurements;
            measurements.setTraces(tracesOfAbout(c.bytes));
            measurements.save();
            measurements.waitForFile();
            QString written;
            const bool wrote =
                StoreFiles::writeAtomically(dir + "/plain.json", QByteArray(c.bytes, 'x'), &written);
            const Status copied = StoreFiles::copyAtomically(dir + "/source.wav", dir + "/copy.wav");
            return (saved ? "saved" : library.message().toStdString()) + "\n" +
                   measurements.message().toStdString() + "\n" + (wrote ? "written" : "not written") + "\n" +
                   (copied ? "copied" : "not copied");
        });
        const QStringList lines = QString::fromStdString(report).split('\n');
        ASSERT_EQ(lines.size(), 4) << report;
        EXPECT_TRUE(lines[0].startsWith("Save failed: ") && lines[0].size() > 13) << report;
        EXPECT_TRUE(lines[1].startsWith("Measurements could not be saved: ") && lines[1].size() > 33)
            << report;
        EXPECT_EQ(lines[2], "not written");
        EXPECT_EQ(lines[3], "not copied");
        EXPECT_EQ(read(dir + "/playlists.json"), oldPlaylists);
        EXPECT_EQ(read(dir + "/measurements.json"), oldTraces);
        EXPECT_EQ(filesIn(dir), before);
    }
}

// A FIFO under a store's name does not hang the start; an undecodable file is kept aside once.
TEST(StoreFiles, StoresStartPastAFifoAndKeepAnUnreadableFileOnce) {
    const QString dir = storeFolder("hostile");
    for (const char* name : {"/playlists.json", "/measurements.json"})
        ASSERT_EQ(::mkfifo(QFile::encodeName(dir + name).constData(), 0600), 0);
    ::alarm(60);  // opening a FIFO would block for ever: end the process instead of hanging
    {
        LibraryStore library(dir);
        EXPECT_EQ(library.message(), "Library could not be loaded: Not a regular file");
        MeasurementStore measurements;
        EXPECT_EQ(measurements.message(), "Measurements could not be loaded: Not a regular file");
        // A FIFO holds nothing to keep: the next save puts the file in its place.
        library.addPlaylist("Gig");
        measurements.setTraces(tracesOfAbout(500));
        measurements.save();
    }
    ::alarm(0);
    EXPECT_EQ(LibraryStore(dir).playlists().size(), 2);
    EXPECT_EQ(MeasurementStore().traces().size(), 1u);
    EXPECT_TRUE(QDir(dir).entryList({"*.unreadable-*"}).isEmpty());

    for (const QString store : {"playlists", "measurements"}) {
        SCOPED_TRACE(store.toStdString());
        const QString path = dir + "/" + store + ".json";
        write(path, "[{\"broken\"");
        for (int start = 0; start < 3; ++start) {
            LibraryStore library(dir);
            MeasurementStore measurements;
        }
        QStringList kept = QDir(dir).entryList({store + ".unreadable-*.json"});
        ASSERT_EQ(kept.size(), 1);
        EXPECT_EQ(read(dir + "/" + kept[0]), "[{\"broken\"");
        write(path, "[{\"broken again\"");
        LibraryStore library(dir);
        MeasurementStore measurements;
        kept = QDir(dir).entryList({store + ".unreadable-*.json"});
        ASSERT_EQ(kept.size(), 2);
        QFile::remove(path);
    }
}

// Temporaries left by a killed save or import are removed at the next start, and only they.
TEST(StoreFiles, TemporariesOfDeadSavesAreRemovedAtStart) {
    const QString dir = storeFolder("leftovers");
    const QString copy = "0D5F3C2A-1B4E-4C6D-8E9F-A0B1C2D3E4F5";
    const QStringList leftovers = {"playlists.json.aBc123", "measurements.json.QWERTY", copy + ".wav.x1Y2z3",
                                   copy + "..AbCdEf", "playlists.unreadable-20250101-120000.json.zz99ZZ"};
    const QStringList kept = {copy + ".abcdef", copy + ".wav", "notes.json.abc123", "playlists.json.abc12",
                              "playlists.json.abc1234"};
    for (const QString& name : leftovers + kept) write(dir + "/" + name, "x");
    LibraryStore library(dir);
    MeasurementStore measurements;
    QStringList expected = kept;
    expected.sort();
    EXPECT_EQ(filesIn(dir), expected);
}

TEST(StoreFiles, AFileTooLargeForMemoryIsKeptAsideAndTheStoreStarts) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit leaves";
#endif
    if (!singleThreaded()) GTEST_SKIP() << "fork() needs a single-threaded process";
    const QString dir = storeFolder("memory");
    // 16 MB of one flat array: a document tree of it takes ten times that.
    std::string flat = "[0";
    flat.reserve(16 << 20);
    while (flat.size() < (16 << 20)) flat += ",0";
    flat += "]";
    for (const char* name : {"/playlists.json", "/measurements.json"})
        std::ofstream(QFile::encodeName(dir + name).toStdString()) << flat;

    const std::string report = inChild(RLIMIT_AS, addressSpaceInUse() + (120 << 20), [&] {
        LibraryStore library(dir);
        MeasurementStore measurements;
        return library.message().toStdString() + "\n" + measurements.message().toStdString() + "\n" +
               std::to_string(library.playlists().size());
    });
    const QStringList lines = QString::fromStdString(report).split('\n');
    ASSERT_EQ(lines.size(), 3) << report;
    EXPECT_TRUE(lines[0].startsWith("Library could not be loaded: ")) << report;
    EXPECT_TRUE(lines[1].startsWith("Measurements could not be loaded: ")) << report;
    EXPECT_EQ(lines[2], "1");
    EXPECT_EQ(QDir(dir).entryList({"*.unreadable-*.json"}).size(), 2);
}

// A store file that is a link is written through only to a regular file: a link to a FIFO, a folder or
// round in a loop fails the save with the store's message and leaves what it points at as it was.
TEST(StoreFiles, SavesWriteThroughALinkOnlyToARegularFile) {
    const QString dir = storeFolder("links"), elsewhere = freshDir("link-targets");
    const auto link = [](const QString& target, const QString& at) {
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()), 0);
    };
    const auto isFifo = [](const QString& path) {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISFIFO(info.st_mode);
    };
    ASSERT_EQ(::mkfifo(QFile::encodeName(elsewhere + "/fifo").constData(), 0600), 0);
    link(elsewhere + "/fifo", dir + "/playlists.json");
    link(elsewhere + "/fifo", dir + "/measurements.json");
    ::alarm(60);  // opening the FIFO would block for ever: end the process instead of hanging
    {
        LibraryStore library(dir);
        EXPECT_EQ(library.message(), "Library could not be loaded: Not a regular file");
        library.addPlaylist("Gig");
        EXPECT_EQ(library.message(), "Save failed: Not a regular file");
        MeasurementStore measurements;
        measurements.setTraces(tracesOfAbout(500));
        measurements.save();
        measurements.waitForFile();
        EXPECT_EQ(measurements.message(), "Measurements could not be saved: Not a regular file");
    }
    ::alarm(0);
    EXPECT_TRUE(isFifo(elsewhere + "/fifo"));
    EXPECT_TRUE(QFileInfo(dir + "/playlists.json").isSymLink());
    EXPECT_EQ(QDir(elsewhere).entryList(QDir::Files | QDir::System | QDir::Hidden), QStringList{"fifo"});

    QString error;
    link(elsewhere, dir + "/folder.json");
    link(dir + "/loop-b.json", dir + "/loop-a.json");
    link(dir + "/loop-a.json", dir + "/loop-b.json");
    EXPECT_FALSE(StoreFiles::writeAtomically(dir + "/folder.json", "[]", &error));
    EXPECT_EQ(error, "Not a regular file");
    EXPECT_FALSE(StoreFiles::writeAtomically(dir + "/loop-a.json", "[]", &error));
    EXPECT_EQ(error, "Too many levels of symbolic links");
    EXPECT_TRUE(QFileInfo(dir + "/loop-a.json").isSymLink());
    write(elsewhere + "/source.wav", "RIFF");
    EXPECT_FALSE(StoreFiles::copyAtomically(elsewhere + "/source.wav", dir + "/folder.json"));

    // A link to a regular file: the file is replaced in its own folder, and the link stays.
    write(elsewhere + "/real.json", "old");
    link(elsewhere + "/real.json", dir + "/through.json");
    ASSERT_TRUE(StoreFiles::writeAtomically(dir + "/through.json", "new", &error)) << error.toStdString();
    EXPECT_EQ(read(elsewhere + "/real.json"), "new");
    EXPECT_TRUE(QFileInfo(dir + "/through.json").isSymLink());
    EXPECT_EQ(QDir(elsewhere).entryList({"real.json*"}, QDir::Files | QDir::Hidden),
              QStringList{"real.json"});
}

// A valid measurements file loads where memory allows its traces and a few megabytes more (reading it
// whole and parsing it as one document took four times its size), and a playlists file over 64 MiB is
// refused without being read, and kept aside.
TEST(StoreFiles, LargeFilesLoadOrAreRefusedWithoutBeingReadWhole) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit leaves";
#endif
    if (!singleThreaded()) GTEST_SKIP() << "fork() needs a single-threaded process";
    const QString dir = storeFolder("large");
    std::vector<TransferTrace> traces(50);
    for (TransferTrace& trace : traces) trace = tracesOfAbout(780000).front();  // 50 traces of 7800 bins
    const std::string text = TransferJSON::encode(traces).value();
    std::ofstream(QFile::encodeName(dir + "/measurements.json").toStdString()) << text;
    {
        std::ofstream big(QFile::encodeName(dir + "/playlists.json").toStdString());
        big.seekp((std::streamoff{64} << 20));
        big << ']';  // 64 MiB and a byte, nearly all of it a hole
    }

    const std::string report = inChild(RLIMIT_AS, addressSpaceInUse() + (120 << 20), [&] {
        LibraryStore library(dir);
        MeasurementStore measurements;
        return library.message().toStdString() + "\n" + std::to_string(measurements.traces().size()) + " " +
               measurements.message().toStdString();
    });
    EXPECT_EQ(report, "Library could not be loaded: The file is larger than 64 MiB.\n50 ") << text.size();
    const QStringList kept = QDir(dir).entryList({"playlists.unreadable-*.json"});
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(QFileInfo(dir + "/" + kept[0]).size(), (qint64{64} << 20) + 1);
}

// A store that loads under a memory limit also saves under it: the file is written as it is encoded, where
// the whole text (here 150 MB beside 55 MB of traces) did not fit. The file comes back byte for byte.
TEST(StoreFiles, AStoreThatLoadsUnderAMemoryLimitAlsoSavesUnderIt) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit leaves";
#endif
    if (!singleThreaded()) GTEST_SKIP() << "fork() needs a single-threaded process";
    const QString dir = storeFolder("save-limit"), path = dir + "/measurements.json";
    {
        // 200 traces of 6820 bins with the digits of measured values.
        std::vector<TransferTrace> traces(200);
        for (std::size_t i = 0; i < traces.size(); ++i)
            for (int k = 1; k <= 6820; ++k) {
                const double seed = 0.001 * double(i + 1);
                traces[i].bins.push_back({k, 2.9296875 * k, std::cos(seed * k) / 3, std::sin(seed * k) / 7,
                                          0.5 + 0.49 * std::sin(seed + k)});
            }
        std::ofstream out(QFile::encodeName(path).toStdString(), std::ios::binary);
        ASSERT_TRUE(TransferJSON::encode(traces, [&out](std::string_view piece) -> Status {
            out.write(piece.data(), std::streamsize(piece.size()));
            return {};
        }));
    }
    const QString kept = dir + "/as-written.json";  // the save puts a new file in the store's place
    ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(kept).constData()), 0);

    const std::string report = inChild(RLIMIT_AS, addressSpaceInUse() + (120 << 20), [&] {
        MeasurementStore measurements;
        const std::string loaded =
            std::to_string(measurements.traces().size()) + " " + measurements.message().toStdString();
        measurements.save();
        measurements.waitForFile();
        return loaded + "\n" + measurements.message().toStdString();
    });
    EXPECT_EQ(report, "200 \n");
    const auto inode = [](const QString& file) {
        struct stat info {};
        return ::stat(QFile::encodeName(file).constData(), &info) == 0 ? info.st_ino : 0;
    };
    EXPECT_NE(inode(path), inode(kept)) << "the file was written anew";
    EXPECT_EQ(QProcess::execute("cmp", {"-s", path, kept}), 0);
}

}  // namespace quorvel
