#pragma once
// The storage folder and the file habits shared by the stores: whole-file atomic rewrites that are done
// only once the bytes are on disk, reading only regular files, and keeping an undecodable file aside
// before anything can overwrite it. Any thread, one file at a time per caller.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <atomic>

#include "platform/Result.h"

namespace quorvel {

namespace StoreFiles {

// The per-user application data folder plus "Quorvel": $XDG_DATA_HOME/Quorvel, by default
// ~/.local/share/Quorvel. Does not create it.
QString storageDirectory();

// Creates `dir` and its parents; on failure returns false and sets `error` to the system's description.
bool ensureDirectory(const QString& dir, QString* error);

// Fails with "Not a regular file" for a FIFO, a device, a socket or a folder (also behind a symbolic
// link), which would block a reader or never end. A path that cannot be examined passes: the open that
// follows reports why.
Status requireRegularFile(const QString& path);

// The whole content of the regular file at `path`, with at least `spare` bytes of capacity after it for
// a parser that reads ahead. Never blocks on a FIFO or a device (see requireRegularFile). Fails with
// domain "posix", the errno and the system's description, or when memory runs out.
Result<QByteArray> readWhole(const QString& path, qsizetype spare = 0);

// Writes `bytes` to `path` through a temporary file beside it ("<name>.XXXXXX") that is flushed and
// synced before it is renamed into place, so the file on disk is always a whole old or a whole new
// version, and success means the bytes are on disk. On any failure (a full disk, a size limit) returns
// false, sets `error` and removes the temporary file; the old file is untouched.
bool writeAtomically(const QString& path, QByteArrayView bytes, QString* error);

// Copies the regular file `source` to `target` the way writeAtomically writes. `cancelled`, when given,
// is read between blocks; a cancelled or failed copy leaves nothing at `target` or beside it.
Status copyAtomically(const QString& source, const QString& target,
                      const std::atomic<bool>* cancelled = nullptr);

// Keeps the undecodable file `path` for the user before a save replaces it: copies it to
// "<stem>.unreadable-<UTC yyyyMMdd-HHmmss>.json" beside it (a numbered suffix is added if that name
// exists), unless a copy with the same content is already kept there. Returns the copy's path; an empty
// path when there is nothing to keep (not a regular file: no content a save could destroy).
Result<QString> keepUnreadable(const QString& path);

// Removes what atomic writes into `dir` left behind when their process died: files named after a final
// name matching the regular expression `finalNames` plus "." and six letters or digits. The storage
// folder belongs to one process at a time (the application's instance lock), so at start every such
// file is a leftover. Returns how many were removed.
int removeLeftovers(const QString& dir, const QString& finalNames);

}  // namespace StoreFiles

}  // namespace quorvel
