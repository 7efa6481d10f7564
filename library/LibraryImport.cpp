// LibraryStore's import of local audio files and M3U/M3U8 playlists. The files are read and copied on the
// store's worker thread; the tracks join the list on the main thread once every file is done.
#include <QFileInfo>

#include "dsp/FileProcessor.h"
#include "library/LibraryStore.h"
#include "library/M3UReader.h"
#include "library/StoreFiles.h"
#include "platform/AudioFile.h"

namespace quorvel {

namespace {

QString describe(const Error& error) { return QString::fromStdString(error.description); }

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

// One step of an import, in the order the user gave: a file to copy, or an issue found while reading a
// playlist.
struct Step {
    enum class Kind { picked, entry, issue } kind;
    QString text;  // the path to copy, or the issue
};

void planPlaylist(const QString& path, std::vector<Step>& plan) {
    const QString playlistName = M3UReader::lastPathComponent(path);
    auto bytes = StoreFiles::readWhole(path);
    if (!bytes) {
        plan.push_back({Step::Kind::issue, playlistName + QStringLiteral(": ") + describe(bytes.error())});
        return;
    }
    auto entries = M3UReader::read(*bytes, QFileInfo(path).path());
    if (!entries) {
        plan.push_back({Step::Kind::issue, playlistName + QStringLiteral(": ") + describe(entries.error())});
        return;
    }
    for (const M3UReader::Entry& entry : *entries) {
        if (entry.kind == M3UReader::Entry::Kind::remote)
            plan.push_back({Step::Kind::issue, QStringLiteral("Unsupported remote entry: ") + entry.text});
        else
            plan.push_back({Step::Kind::entry, entry.text});
    }
}

// Checks that `path` is readable audio and copies it into `root` under a fresh name. Worker thread.
Result<ReferenceTrack> copyTrack(const QString& root, const QString& path,
                                 const std::atomic<bool>& quitting) {
    if (Status regular = StoreFiles::requireRegularFile(path); !regular) return regular.error();
    // Opened only as a test that the file is audio the player can play, and closed at once: a file it
    // would refuse is refused now, with the player's words, not when it is first played.
    {
        auto audio = AudioFileReader::open(QFile::encodeName(path).toStdString());
        if (!audio) return audio.error();
        if (Status playable = FileProcessor::accepts(audio->processingFormat()); !playable)
            return playable.error();
    }

    const auto [title, extension] = splitExtension(M3UReader::lastPathComponent(path));
    const QString name = QString::fromStdString(Uuid::generate().toString()) + '.' + extension;
    if (Status copied = StoreFiles::copyAtomically(path, root + '/' + name, &quitting); !copied)
        return copied.error();
    return ReferenceTrack{.title = title, .filename = name};
}

}  // namespace

struct LibraryStore::ImportResult {
    Uuid playlist;
    QList<ReferenceTrack> tracks;
    QStringList issues;
};

void LibraryStore::importFiles(const QStringList& paths) {
    Q_ASSERT(selected_ >= 0 && selected_ < playlists_.size());
    ++importsUnderWay_;
    importer_.post([this, paths, playlist = playlists_[selected_].id] { runImport(paths, playlist); });
}

void LibraryStore::runImport(const QStringList& paths, const Uuid& playlist) {
    std::vector<Step> plan;
    for (const QString& path : paths) {
        if (isPlaylistFile(path))
            planPlaylist(path, plan);
        else
            plan.push_back({Step::Kind::picked, path});
    }
    const auto copies =
        std::count_if(plan.begin(), plan.end(), [](const Step& s) { return s.kind != Step::Kind::issue; });

    ImportResult result{playlist, {}, {}};
    int copied = 0;
    for (const Step& step : plan) {
        if (step.kind == Step::Kind::issue) {
            result.issues << step.text;
            continue;
        }
        const QString name = M3UReader::lastPathComponent(step.text);
        const QString progress =
            QStringLiteral("Importing %1 of %2: %3\u2026").arg(++copied).arg(copies).arg(name);
        QMetaObject::invokeMethod(
            this, [this, progress] { setMessage(progress); }, Qt::QueuedConnection);
        auto track = copyTrack(root_, step.text, quitting_);
        // The store is going: nothing of this import reaches it, and the copy in progress is gone.
        if (quitting_.load(std::memory_order_relaxed)) return;
        if (track)
            result.tracks << *track;
        else if (step.kind == Step::Kind::picked)
            result.issues << name + QStringLiteral(": ") + describe(track.error());
        else
            result.issues << name + QStringLiteral(": import its audio file directly");
    }
    QMetaObject::invokeMethod(
        this, [this, result] { finishImport(result); }, Qt::QueuedConnection);
}

void LibraryStore::finishImport(const ImportResult& result) {
    --importsUnderWay_;
    if (!result.tracks.isEmpty()) {
        // The playlist selected when the import was asked for; screens may have moved it meanwhile.
        int index = selected_;
        for (qsizetype i = 0; i < playlists_.size(); ++i)
            if (playlists_[i].id == result.playlist) index = int(i);
        playlists_[index].tracks += result.tracks;
        emit playlistsChanged();
    }
    if (!save()) {
        // Both failures count: the save's, which message() now holds, and the files that were not taken.
        if (!result.issues.isEmpty()) setMessage(message_ + '\n' + result.issues.join('\n'));
        return;
    }
    setMessage(result.issues.isEmpty() ? QStringLiteral("Import complete") : result.issues.join('\n'));
}

}  // namespace quorvel
