#pragma once
// Helpers for the player screen tests: scratch folders, real playlist files, screenshots.
#include <QByteArray>
#include <QList>
#include <QString>

#include "library/ReferencePlaylist.h"

namespace quorvel {

namespace ScreenTestFiles {
QString freshDir(const QString& label);  // empty, below the test home
QByteArray read(const QString& path);    // empty when missing
// Writes "playlists.json" in `dir` holding `playlists`.
void writeLibrary(const QString& dir, const QList<ReferencePlaylist>& playlists);
// A local track named `title` (with a file name that need not exist).
ReferenceTrack local(const QString& title);
// A stereo float WAV file of a quiet 440 Hz tone, `seconds` long at 48 kHz.
void writeTone(const QString& path, double seconds);
// Makes `dir`'s playlists file unwritable (a folder takes its name), so that the next save fails.
void blockSaves(const QString& dir);
}  // namespace ScreenTestFiles

}  // namespace quorvel
