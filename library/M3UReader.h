#pragma once
// Reading M3U and M3U8 playlists: UTF-8 text, one entry per line, local paths only. Pure text work, no
// file access; any thread.
#include <QByteArray>
#include <QList>
#include <QString>

#include "platform/Result.h"

namespace quorvel {

namespace M3UReader {

struct Entry {
    enum class Kind { file, remote };
    Kind kind;
    // file: the path to import (absolute entries unchanged, others appended to the playlist's folder);
    // remote: the trimmed line, which named a URL ("://" anywhere in it).
    QString text;
};

// The entries of a playlist whose bytes are `bytes` and which lies in `folder`, in file order. Lines are
// split at LF, CR, VT, FF, U+0085, U+2028 and U+2029 and trimmed; empty lines and lines starting with
// "#" are skipped. A leading UTF-8 byte-order mark is dropped. Paths are not cleaned: "..", "~", percent
// signs and backslashes pass through as written. Fails when the bytes are not valid UTF-8.
Result<QList<Entry>> read(const QByteArray& bytes, const QString& folder);

// The last component of a path, ignoring trailing slashes ("a/b/" gives "b").
QString lastPathComponent(const QString& path);

}  // namespace M3UReader

}  // namespace quorvel
