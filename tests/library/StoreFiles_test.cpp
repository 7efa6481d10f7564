#include "library/StoreFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "TestHome.h"

namespace quorvel {

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

TEST(StoreFiles, ReadWholeReturnsTheBytesOrTheSystemError) {
    QString dir = QString::fromStdString(TestHome::freshDir("read"));
    QString error;
    ASSERT_TRUE(StoreFiles::writeAtomically(dir + "/x.json", "[1,2]", &error));
    auto bytes = StoreFiles::readWhole(dir + "/x.json");
    ASSERT_TRUE(bytes.ok());
    EXPECT_EQ(*bytes, QByteArray("[1,2]"));
    auto missing = StoreFiles::readWhole(dir + "/missing.json");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().domain, "file");
    EXPECT_FALSE(missing.error().description.empty());
}

}  // namespace quorvel
