#pragma once
// File helpers for the library tests.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include "TestHome.h"

namespace quorvel::LibraryTestFiles {

// Empty, below the test home.
inline QString freshDir(const QString& label) {
    return QString::fromStdString(TestHome::freshDir(label.toStdString()));
}

inline void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()) << path.toStdString();
}

inline QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// 0.05 s of 1 kHz, 16-bit mono WAV, written by sox (the type is named: sox would go by the extension).
inline void writeWav(const QString& path) {
    ASSERT_EQ(QProcess::execute("sox", {"-D", "-n", "-r", "48000", "-c", "1", "-b", "16", "-t", "wav", path,
                                        "synth", "0.05", "sine", "1000"}),
              0)
        << path.toStdString();
}

}  // namespace quorvel::LibraryTestFiles
