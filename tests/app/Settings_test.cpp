#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "TestHome.h"
#include "app/QuorvelApp.h"

namespace quorvel {

// Qt saves the settings through a link to whatever it points at, and would wait for ever to read a
// FIFO: a settings file that is a link to a FIFO (or a FIFO) is left alone, and this run's settings are
// kept beside it; a regular file, or none, is used as always.
TEST(QuorvelApp, SettingsNeverReplaceWhatTheirFileLeadsTo) {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString file = config + "/Quorvel/Quorvel.conf";
    const QString fifo = QString::fromStdString(TestHome::freshDir("settings-target")) + "/fifo";
    QDir().mkpath(config + "/Quorvel");
    EXPECT_FALSE(QuorvelApp::keepSettingsOffNonFiles());

    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QFile::remove(file);
    ASSERT_TRUE(QFile::link(fifo, file));
    ::alarm(60);  // reading the FIFO would block for ever: end the process instead of hanging
    {
        const auto session = QuorvelApp::keepSettingsOffNonFiles();
        ASSERT_TRUE(session);
        QSettings().setValue("Quorvel.check", 7);
        QSettings settings;
        settings.sync();
        EXPECT_EQ(settings.status(), QSettings::NoError);
        EXPECT_EQ(settings.value("Quorvel.check").toInt(), 7);
        EXPECT_TRUE(settings.fileName().startsWith(session->path())) << settings.fileName().toStdString();
    }
    ::alarm(0);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(fifo).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_TRUE(QFileInfo(file).isSymLink());

    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    QFile::remove(file);
}

}  // namespace quorvel
