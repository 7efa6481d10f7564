#include "LibraryTestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include "TestHome.h"

namespace LibraryTestFiles {

QString freshDir(const QString& label) { return QString::fromStdString(TestHome::freshDir(label.toStdString())); }

void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

void writeWav(const QString& path) {
    // sox picks the container from the extension, so name the type explicitly for odd names.
    int rc = QProcess::execute("sox", {"-D", "-n", "-r", "48000", "-c", "1", "-b", "16", "-t", "wav", path, "synth", "0.05", "sine", "1000"});
    ASSERT_EQ(rc, 0) << "sox failed for " << path.toStdString();
}

}  // namespace LibraryTestFiles
