#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "StoreFiles.h"
#include "TestHome.h"

TEST(StoreFiles, StorageFollowsXdgDataHome) {
    EXPECT_EQ(StoreFiles::storageDirectory(), QString::fromStdString(TestHome::root()) + "/data/Quorvel");
}

TEST(StoreFiles, AtomicWriteReplacesWholeFileAndKeepsOldOnFailure) {
    QString dir = QString::fromStdString(TestHome::freshDir("atomic"));
    QString path = dir + "/x.json";
    QString error;
    ASSERT_TRUE(StoreFiles::writeAtomically(path, "[1]", &error));
    ASSERT_TRUE(StoreFiles::writeAtomically(path, "[1,2]", &error));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("[1,2]"));
    EXPECT_FALSE(StoreFiles::writeAtomically(dir + "/missing/x.json", "[]", &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(StoreFiles, UnreadableCopiesNeverOverwriteEachOther) {
    QString dir = QString::fromStdString(TestHome::freshDir("keep"));
    QString path = dir + "/measurements.json";
    QString error;
    ASSERT_TRUE(StoreFiles::writeAtomically(path, "{broken", &error));
    QString a = StoreFiles::keepUnreadable(path);
    QString b = StoreFiles::keepUnreadable(path);
    ASSERT_FALSE(a.isEmpty());
    ASSERT_FALSE(b.isEmpty());
    EXPECT_NE(a, b);
    EXPECT_TRUE(QFileInfo(a).fileName().startsWith("measurements.unreadable-"));
    EXPECT_TRUE(a.endsWith(".json"));
}
