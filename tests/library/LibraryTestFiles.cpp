#include "LibraryTestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include "TestHome.h"

namespace quorvel {

namespace LibraryTestFiles {

QString freshDir(const QString& label) {
    return QString::fromStdString(TestHome::freshDir(label.toStdString()));
}

void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()) << path.toStdString();
}

QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeWav(const QString& path) {
    // The type is named because sox would otherwise go by the extension.
    const QStringList args{"-D", "-n",  "-r", "48000", "-c",   "1",    "-b",  "16",
                           "-t", "wav", path, "synth", "0.05", "sine", "1000"};
    ASSERT_EQ(QProcess::execute("sox", args), 0) << path.toStdString();
}

}  // namespace LibraryTestFiles

}  // namespace quorvel
