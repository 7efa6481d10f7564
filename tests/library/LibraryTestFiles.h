#pragma once
// Small file helpers for the library tests.
#include <QByteArray>
#include <QString>

namespace LibraryTestFiles {
// A fresh empty folder below the test home.
QString freshDir(const QString& label);
void write(const QString& path, const QByteArray& bytes);
QByteArray read(const QString& path);
// A short real WAV file (0.05 s of a 1 kHz sine, 16-bit mono, 48 kHz) written by sox.
void writeWav(const QString& path);
}
