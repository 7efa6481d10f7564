#pragma once
// The storage folder and the file habits shared by the stores: whole-file atomic rewrites that are done
// only once the bytes are on disk, reading only regular files, and keeping an undecodable file aside
// before anything can overwrite it. Any thread, one file at a time per caller.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <atomic>
#include <functional>
#include <optional>
#include <string_view>

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

// Whether a save to `path` (see writeAtomically) may replace what it names: fails with "Not a regular
// file" for a symbolic link to anything but a regular file, or with the system's reason (a loop of links).
// A link to nothing yet, and anything at `path` itself, pass.
Status requireReplaceable(const QString& path);

// The regular file at `path`, open for reading a piece at a time. Never blocks on a FIFO or a device
// (see requireRegularFile). Closed when it goes. Move-only; one thread at a time.
class Reader {
public:
    // Fails with domain "posix", the errno and the system's description, or with "Not a regular file".
    static Result<Reader> open(const QString& path);
    Reader(Reader&& other) noexcept;
    Reader& operator=(Reader&& other) noexcept;
    ~Reader();

    // The file's size when it was opened, in bytes.
    qint64 size() const { return size_; }
    // Reads up to `size` bytes into `into` and returns how many: 0 at the end of the file.
    Result<qsizetype> read(char* into, qsizetype size);

private:
    Reader(int fd, qint64 size) : fd_(fd), size_(size) {}
    int fd_ = -1;
    qint64 size_ = 0;
};

// The whole content of the regular file at `path`, read as Reader reads. Fails as Reader does, when
// memory runs out, or, when `maxBytes` is given and the file holds more, with EFBIG and "The file is
// larger than <maxBytes in MiB> MiB." before any of it is read.
Result<QByteArray> readWhole(const QString& path, std::optional<qsizetype> maxBytes = std::nullopt);

// Writes `bytes` to `path` through a temporary file beside the file it replaces ("<name>.XXXXXX") that is
// flushed and synced before it is renamed into place, so the file on disk is always a whole old or a
// whole new version, and success means the bytes are on disk. On any failure (a full disk, a size
// limit) returns false, sets `error` and removes the temporary file; the old file is untouched.
// A symbolic link is written through: its target is replaced, in the target's folder, and the link
// stays. That target must be a regular file or not exist yet: a link to anything else (a device, a
// FIFO, a folder) or a loop of links fails with "Not a regular file" (or the system's reason) and
// nothing is written. Anything else found at `path` itself is replaced, as a file is.
bool writeAtomically(const QString& path, QByteArrayView bytes, QString* error);

// Appends a piece to the file being written; fails with the system's reason (a full disk, a size limit).
using Append = std::function<Status(std::string_view piece)>;
// Writes what `produce` hands to its Append, piece by piece, the way the call above writes `bytes`, so
// that a large file never has to be held whole. A failure that `produce` returns, its own or one of
// Append's, fails the write as any other: `error` is set to its description and the old file is kept.
bool writeAtomically(const QString& path, const std::function<Status(const Append&)>& produce,
                     QString* error);

// Copies the regular file `source` to `target` the way writeAtomically writes (links included). `cancelled`,
// when given, is read between blocks; a cancelled or failed copy leaves nothing at `target` or beside it.
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
