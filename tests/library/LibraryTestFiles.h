#pragma once
#include <QByteArray>
#include <QString>

namespace quorvel {

// File helpers for the library tests.
namespace LibraryTestFiles {
QString freshDir(const QString& label);  // empty, below the test home
void write(const QString& path, const QByteArray& bytes);
QByteArray read(const QString& path);
void writeWav(const QString& path);  // 0.05 s of 1 kHz, 16-bit mono WAV, written by sox
}  // namespace LibraryTestFiles

}  // namespace quorvel
