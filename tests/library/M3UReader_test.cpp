#include <gtest/gtest.h>

#include "M3UReader.h"

namespace {
QStringList describe(const QList<M3UReader::Entry>& entries) {
    QStringList out;
    for (const auto& e : entries) out << (e.kind == M3UReader::Entry::Kind::remote ? "remote " : "file ") + e.text;
    return out;
}
}  // namespace

TEST(M3UReader, ReadsEntriesInOrderResolvingAgainstTheFolder) {
    const QByteArray text = "#EXTM3U\n#EXTINF:123,Artist - Title\n\n  tracks/a.mp3  \nhttp://host/x.mp3\n"
                            "file:///abs/b.wav\n/abs/b.wav\n../up/c.wav\n~/d.wav\nsub\\e%20.wav\n";
    auto entries = M3UReader::read(text, "/lists");
    ASSERT_TRUE(entries.ok());
    EXPECT_EQ(describe(*entries), (QStringList{"file /lists/tracks/a.mp3", "remote http://host/x.mp3", "remote file:///abs/b.wav",
                                               "file /abs/b.wav", "file /lists/../up/c.wav", "file /lists/~/d.wav",
                                               "file /lists/sub\\e%20.wav"}));
}

TEST(M3UReader, LineEndsAndByteOrderMarkDoNotMatter) {
    const QStringList expected{"file /l/a.wav", "file /l/b.wav"};
    for (const QByteArray& text : {QByteArray("#EXTM3U\na.wav\nb.wav"), QByteArray("#EXTM3U\r\na.wav\r\nb.wav\r\n"),
                                   QByteArray("#EXTM3U\ra.wav\rb.wav\r"), QByteArray("\xEF\xBB\xBF#EXTM3U\r\na.wav\r\nb.wav\r\n"),
                                   QByteArray("#EXTM3U\va.wav\fb.wav"), QByteArray("#EXTM3U\xC2\x85" "a.wav\xE2\x80\xA8" "b.wav\xE2\x80\xA9")}) {
        auto entries = M3UReader::read(text, "/l");
        ASSERT_TRUE(entries.ok());
        EXPECT_EQ(describe(*entries), expected) << text.toStdString();
    }
}

TEST(M3UReader, TextThatIsNotUtf8FailsAsAWhole) {
    for (const QByteArray& text : {QByteArray("caf\xE9.wav\n"), QByteArray("a.wav\n\xC0\xAF.wav\n"), QByteArray("\xED\xA0\x80.wav")})
        EXPECT_FALSE(M3UReader::read(text, "/l").ok()) << text.toHex().toStdString();
    auto empty = M3UReader::read("", "/l");
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty->isEmpty());
}

TEST(M3UReader, LastPathComponent) {
    EXPECT_EQ(M3UReader::lastPathComponent("/a/b/c.wav"), "c.wav");
    EXPECT_EQ(M3UReader::lastPathComponent("/a/tracks/"), "tracks");
    EXPECT_EQ(M3UReader::lastPathComponent("name"), "name");
    EXPECT_EQ(M3UReader::lastPathComponent("/"), "/");
}
