#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <QLockFile>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>
#include <sstream>

#include "app/QuorvelApp.h"
#include "app/QuorvelView.h"
#include "library/StoreFiles.h"

namespace quorvel {

// Two processes on one data folder would each rewrite the stores from memory and erase the other's
// changes: a second start says so, shows nothing else and fails; the lock of a Quorvel that died is
// taken over.
TEST(QuorvelApp, ASecondInstanceOnTheSameDataFolderOnlySaysSo) {
    if (std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}) != 1)
        GTEST_SKIP() << "fork() needs a single-threaded process";
    const QString lockPath = StoreFiles::storageDirectory() + "/quorvel.lock";
    const pid_t died = fork();
    if (died == 0) {
        QLockFile lock(lockPath);
        _exit(QuorvelApp::claimDataFolder(lock) == QuorvelApp::Claim::ours ? 0 : 1);  // never unlocks
    }
    int status = -1;
    ASSERT_EQ(waitpid(died, &status, 0), died);
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(QFileInfo::exists(lockPath));

    QLockFile running(lockPath);
    ASSERT_EQ(QuorvelApp::claimDataFolder(running), QuorvelApp::Claim::ours);
    QLockFile second(lockPath);
    EXPECT_EQ(QuorvelApp::claimDataFolder(second), QuorvelApp::Claim::anotherInstance);

    QString shown;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                shown = box->text();
                box->accept();
            }
    });
    answer.start(10);
    testing::internal::CaptureStderr();
    const int started = QuorvelApp::start();
    std::stringstream said(testing::internal::GetCapturedStderr());
    EXPECT_EQ(started, 1);
    EXPECT_EQ(shown, "Quorvel is already running for this user.");
    std::string firstLine;
    std::getline(said, firstLine);  // the offscreen platform may add its own notes
    EXPECT_EQ(firstLine, "Quorvel is already running for this user.");
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_EQ(qobject_cast<QuorvelView*>(w), nullptr);
}

TEST(QuorvelApp, AnyDisplayVariableMeansADisplay) {
    const char* names[] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
    const QByteArray kept[] = {qgetenv(names[0]), qgetenv(names[1]), qgetenv(names[2])};
    for (const char* set : {"", "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        for (const char* name : names) qputenv(name, QByteArray(name == std::string(set) ? "x" : ""));
        EXPECT_EQ(QuorvelApp::hasDisplay(), *set != 0) << set;
    }
    for (int i = 0; i < 3; ++i) kept[i].isNull() ? qunsetenv(names[i]) : qputenv(names[i], kept[i]);
}

}  // namespace quorvel
