#include "app/QuorvelApp.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "app/QuorvelView.h"
#include "core/Logging.h"
#include "kit/QVStyle.h"
#include "library/StoreFiles.h"

namespace quorvel {

namespace {

bool envSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

namespace QuorvelApp {

bool hasDisplay() { return envSet("QT_QPA_PLATFORM") || envSet("DISPLAY") || envSet("WAYLAND_DISPLAY"); }

int run(int argc, char** argv) {
    if (!hasDisplay()) {
        std::fputs(
            "Quorvel opens a window, and this machine has no display to show it on "
            "(neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
            "To run it without a screen, start it under a virtual X server:\n"
            "    xvfb-run -a scripts/run\n",
            stderr);
        return 1;
    }
    // Only the program name reaches Qt: the application takes no options of its own or of the toolkit.
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    QVStyle::apply();
    Logging::install();
    const auto sessionSettings = keepSettingsOffNonFiles();
    // A music server that closes its end while a command is being sent must fail that call, not end
    // the process: libmpdclient writes to its socket without MSG_NOSIGNAL.
    std::signal(SIGPIPE, SIG_IGN);
    return start();
}

std::unique_ptr<QTemporaryDir> keepSettingsOffNonFiles() {
    // Where QSettings keeps the user's file on this system, found without opening it.
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' +
                         QCoreApplication::organizationName() + '/' + QCoreApplication::applicationName() +
                         QStringLiteral(".conf");
    Status file = StoreFiles::requireRegularFile(path);
    if (file) file = StoreFiles::requireReplaceable(path);
    if (file) return nullptr;
    auto session =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/quorvel-settings-XXXXXX"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, session->path());
    qCWarning(logStore) << "the settings file" << path << "is left alone:" << file.error().description.c_str()
                        << "; the settings of this run are not kept";
    return session;
}

Claim claimDataFolder(QLockFile& lock) {
    QString error;
    StoreFiles::ensureDirectory(QFileInfo(lock.fileName()).absolutePath(), &error);
    // Never stale by age: a Quorvel may run for weeks. A lock whose process has died is stale at once.
    lock.setStaleLockTime(0);
    if (lock.tryLock()) return Claim::ours;
    if (lock.error() == QLockFile::LockFailedError) return Claim::anotherInstance;
    qCWarning(logStore) << "the data folder could not be locked:" << lock.fileName() << error;
    return Claim::ours;
}

QSize firstWindowSize(const QRect& available) {
    // The frame's size is known only once the window is shown; this leaves room for a usual one.
    const QSize frame(16, 48);
    const QSize room = available.size() - frame;
    return QSize(QuorvelView::kDefaultWidth, QuorvelView::kDefaultHeight)
        .boundedTo(room)
        .expandedTo(QSize(QuorvelView::kMinWidth, QuorvelView::kMinHeight));
}

int start() {
    QLockFile lock(StoreFiles::storageDirectory() + QStringLiteral("/quorvel.lock"));
    if (claimDataFolder(lock) == Claim::anotherInstance) {
        const QString text = QStringLiteral("Quorvel is already running for this user.");
        std::fprintf(stderr, "%s\n", qPrintable(text));
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Quorvel"), text, QMessageBox::Ok);
        box.setObjectName(QStringLiteral("alreadyRunning"));
        box.exec();
        return 1;
    }
    QuorvelView view;
    // The screen the window opens on (QuorvelView::screen names a tool's screen).
    view.resize(firstWindowSize(view.QWidget::screen()->availableGeometry()));
    view.show();
    return QApplication::exec();
}

}  // namespace QuorvelApp

}  // namespace quorvel
