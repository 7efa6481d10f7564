// LibraryStore's import of local audio files and M3U/M3U8 playlists.
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>

#include "library/LibraryStore.h"
#include "library/M3UReader.h"
#include "library/StoreFiles.h"
#include "platform/AudioFile.h"

namespace quorvel {

namespace {

QString describe(const Error& error) { return QString::fromStdString(error.description); }

// Opening a FIFO or a device would block the import, or read forever: only regular files (also through a
// symbolic link) are opened. A path that cannot be examined is left to the open that follows to report.
Status requireRegularFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    if (native.contains('\0')) return Error{"posix", ENOENT, "No such file or directory"};
    struct stat info {};
    if (::stat(native.constData(), &info) == 0 && !S_ISREG(info.st_mode))
        return Error{"file", 0, "Not a regular file"};
    return {};
}

// A file name's last extension, as spelled, and the name without it; a leading dot starts no extension.
std::pair<QString, QString> splitExtension(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf('.');
    if (dot <= 0) return {fileName, QString()};
    return {fileName.left(dot), fileName.mid(dot + 1)};
}

bool isPlaylistFile(const QString& path) {
    const QString extension = splitExtension(M3UReader::lastPathComponent(path)).second.toLower();
    return extension == QLatin1String("m3u") || extension == QLatin1String("m3u8");
}

}  // namespace

Status LibraryStore::copyTrack(const QString& path) {
    if (Status regular = requireRegularFile(path); !regular) return regular;
    // Opened only as a test that the file is readable audio, and closed at once.
    if (auto audio = AudioFileReader::open(QFile::encodeName(path).toStdString()); !audio)
        return audio.error();

    const auto [title, extension] = splitExtension(M3UReader::lastPathComponent(path));
    const QString name = QString::fromStdString(Uuid::generate().toString()) + '.' + extension;
    QFile source(path);
    if (!source.copy(root_ + '/' + name))
        return Error{"file", int(source.error()), source.errorString().toStdString()};

    Q_ASSERT(selected_ >= 0 && selected_ < playlists_.size());
    playlists_[selected_].tracks.push_back(ReferenceTrack{.title = title, .filename = name});
    emit playlistsChanged();
    return {};
}

void LibraryStore::importPlaylistFile(const QString& path, QStringList& issues) {
    const QString playlistName = M3UReader::lastPathComponent(path);
    QByteArray bytes;
    Status readable = requireRegularFile(path);
    if (readable) {
        if (auto read = StoreFiles::readWhole(path))
            bytes = std::move(*read);
        else
            readable = read.error();
    }
    if (!readable) {
        issues << playlistName + QStringLiteral(": ") + describe(readable.error());
        return;
    }
    auto entries = M3UReader::read(bytes, QFileInfo(path).path());
    if (!entries) {
        issues << playlistName + QStringLiteral(": ") + describe(entries.error());
        return;
    }
    for (const M3UReader::Entry& entry : *entries) {
        if (entry.kind == M3UReader::Entry::Kind::remote) {
            issues << QStringLiteral("Unsupported remote entry: ") + entry.text;
        } else if (!copyTrack(entry.text)) {
            issues << M3UReader::lastPathComponent(entry.text) +
                          QStringLiteral(": import its audio file directly");
        }
    }
}

void LibraryStore::importFiles(const QStringList& paths) {
    QStringList issues;
    for (const QString& path : paths) {
        if (isPlaylistFile(path)) {
            importPlaylistFile(path, issues);
        } else if (Status copied = copyTrack(path); !copied) {
            issues << M3UReader::lastPathComponent(path) + QStringLiteral(": ") + describe(copied.error());
        }
    }
    if (!save()) return;
    setMessage(issues.isEmpty() ? QStringLiteral("Import complete") : issues.join('\n'));
}

}  // namespace quorvel
