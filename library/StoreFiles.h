#pragma once
// The storage folder and the file habits shared by the stores: whole-file atomic rewrites, and keeping
// an undecodable file aside before anything can overwrite it.
#include <QByteArray>
#include <QString>

#include "platform/Result.h"

namespace quorvel {

namespace StoreFiles {

// The per-user application data folder plus "Quorvel": $XDG_DATA_HOME/Quorvel, by default
// ~/.local/share/Quorvel. Does not create it.
QString storageDirectory();

// Creates `dir` and its parents; on failure returns false and sets `error` to the system's description.
bool ensureDirectory(const QString& dir, QString* error);

// The whole content of `path`. A file that cannot be opened or read fails with domain "file", the
// QFileDevice error as code and the system's description.
Result<QByteArray> readWhole(const QString& path);

// Writes `bytes` to `path` through a temporary file renamed into place, so the file on disk is always a
// whole old or a whole new version. On failure returns false and sets `error`; the old file is untouched.
bool writeAtomically(const QString& path, const QByteArray& bytes, QString* error);

// Copies `path` to "<stem>.unreadable-<UTC yyyyMMdd-HHmmss>.json" beside it (a numbered suffix is added
// if that name exists) and returns the copy's path, or an empty string when the copy failed.
QString keepUnreadable(const QString& path);

}  // namespace StoreFiles

}  // namespace quorvel
