#include "library/StoreFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "core/Logging.h"

namespace quorvel {

namespace {

constexpr qsizetype copyBlock = 1 << 20;

Error posixError(int code) { return Error{"posix", code, std::strerror(code)}; }

Error notRegular() { return Error{"file", 0, "Not a regular file"}; }

// Opens a regular file for reading. O_NONBLOCK keeps the open itself from waiting for a FIFO's writer;
// the type is checked on the open file, so nothing can be swapped in between. Also returns its size.
Result<std::pair<int, qint64>> openRegular(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty() || native.contains('\0')) return posixError(ENOENT);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return posixError(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int code = errno;
        ::close(fd);
        return posixError(code);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return notRegular();
    }
    return std::pair<int, qint64>(fd, qint64(info.st_size));
}

// Reads up to `size` bytes, retrying after signals; 0 at the end of the file, -1 on an error.
ssize_t readSome(int fd, char* into, qsizetype size) {
    for (;;) {
        const ssize_t n = ::read(fd, into, static_cast<size_t>(size));
        if (n >= 0 || errno != EINTR) return n;
    }
}

// Syncs the folder that holds `path`, so that a rename into it survives a power cut. Some file systems
// refuse to sync a folder; the file itself is on disk already, so that is no failure.
void syncFolder(const QString& path) {
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Writes all of `bytes` to the open temporary file, retrying after signals and short writes.
Status writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return posixError(n < 0 ? errno : ENOSPC);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

// Syncs the temporary file and renames it into place. The bytes go to the file's descriptor directly: a
// full disk or a size limit then fails the write itself, where Qt's own buffer would only meet it inside
// commit(), which renames the file even when that last flush fails.
bool finish(QSaveFile& file, QString* error) {
    if (::fsync(file.handle()) != 0) {
        if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
        file.cancelWriting();
        return false;
    }
    if (Status target = StoreFiles::requireReplaceable(file.fileName()); !target) {
        if (error) *error = QString::fromStdString(target.error().description);
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    syncFolder(file.fileName());
    return true;
}

bool sameContent(const QString& a, const QString& b) {
    QFile one(a), two(b);
    if (one.size() != two.size() || !one.open(QIODevice::ReadOnly) || !two.open(QIODevice::ReadOnly))
        return false;
    while (!one.atEnd()) {
        const QByteArray x = one.read(copyBlock), y = two.read(copyBlock);
        if (x.isEmpty() || x != y) return false;
    }
    return true;
}

}  // namespace

namespace StoreFiles {

QString storageDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Quorvel";
}

bool ensureDirectory(const QString& dir, QString* error) {
    if (QDir().mkpath(dir)) return true;
    if (error) *error = QString("Could not create the folder “%1”.").arg(dir);
    return false;
}

Status requireRegularFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    if (native.contains('\0')) return posixError(ENOENT);
    struct stat info {};
    if (::stat(native.constData(), &info) == 0 && !S_ISREG(info.st_mode)) return notRegular();
    return {};
}

// QSaveFile follows a symbolic link and renames its temporary over the link's final target, whatever that
// is (a device node, a FIFO): only a regular file, or nothing yet, may be replaced that way. Whatever sits
// at `path` itself is the store's own and is replaced as before. Checked when a save starts and again just
// before the rename.
Status requireReplaceable(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    if (native.contains('\0')) return posixError(ENOENT);
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0 || !S_ISLNK(info.st_mode)) return {};
    if (::stat(native.constData(), &info) != 0) return errno == ENOENT ? Status() : posixError(errno);
    return S_ISREG(info.st_mode) ? Status() : notRegular();
}

Result<Reader> Reader::open(const QString& path) {
    auto opened = openRegular(path);
    if (!opened) return opened.error();
    return Reader(opened->first, opened->second);
}

Reader::Reader(Reader&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(std::exchange(other.size_, 0)) {}

Reader& Reader::operator=(Reader&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

Reader::~Reader() {
    if (fd_ >= 0) ::close(fd_);
}

Result<qsizetype> Reader::read(char* into, qsizetype size) {
    const ssize_t n = readSome(fd_, into, size);
    if (n < 0) return posixError(errno);
    return qsizetype(n);
}

Result<QByteArray> readWhole(const QString& path, std::optional<qsizetype> maxBytes) {
    auto opened = Reader::open(path);
    if (!opened) return opened.error();
    Reader& file = *opened;
    const auto tooLarge = [&] {
        return Error{"posix", EFBIG,
                     QStringLiteral("The file is larger than %1 MiB.").arg(*maxBytes >> 20).toStdString()};
    };
    if (maxBytes && file.size() > *maxBytes) return tooLarge();
    try {
        QByteArray bytes;
        bytes.resize(qsizetype(file.size()));
        qsizetype done = 0;
        for (;;) {
            if (done == bytes.size()) {  // the file grew meanwhile
                if (maxBytes && done > *maxBytes) return tooLarge();
                bytes.resize(done + copyBlock);
            }
            auto n = file.read(bytes.data() + done, bytes.size() - done);
            if (!n) return n.error();
            if (*n == 0) break;
            done += *n;
        }
        bytes.resize(done);
        return bytes;
    } catch (const std::bad_alloc&) {
        return Error{"posix", ENOMEM, "There is not enough memory to read the file."};
    }
}

bool writeAtomically(const QString& path, QByteArrayView bytes, QString* error) {
    return writeAtomically(
        path,
        [bytes](const Append& append) {
            return append({bytes.data(), std::size_t(bytes.size())});
        },
        error);
}

bool writeAtomically(const QString& path, const std::function<Status(const Append&)>& produce,
                     QString* error) {
    if (Status target = requireReplaceable(path); !target) {
        if (error) *error = QString::fromStdString(target.error().description);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (error) *error = file.errorString();
        return false;
    }
    const int fd = file.handle();
    if (Status produced = produce([fd](std::string_view piece) { return writeAll(fd, piece); }); !produced) {
        if (error) *error = QString::fromStdString(produced.error().description);
        file.cancelWriting();
        return false;
    }
    return finish(file, error);
}

Status copyAtomically(const QString& source, const QString& target, const std::atomic<bool>* cancelled) {
    auto opened = Reader::open(source);
    if (!opened) return opened.error();
    Reader& in = *opened;
    if (Status replaced = requireReplaceable(target); !replaced) return replaced.error();
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Error{"file", out.error(), out.errorString().toStdString()};
    const auto failed = [&out](const QString& why) {
        out.cancelWriting();
        return Error{"file", QFileDevice::WriteError, why.toStdString()};
    };
    std::vector<char> block(copyBlock);
    for (;;) {
        // Relaxed: the flag carries no data, and the next block is soon enough to see it.
        if (cancelled && cancelled->load(std::memory_order_relaxed)) {
            out.cancelWriting();
            return Error{"posix", ECANCELED, "The copy was cancelled."};
        }
        auto n = in.read(block.data(), copyBlock);
        if (!n) return failed(QString::fromStdString(n.error().description));
        if (*n == 0) break;
        if (Status written = writeAll(out.handle(), {block.data(), std::size_t(*n)}); !written)
            return failed(QString::fromStdString(written.error().description));
    }
    if (QString error; !finish(out, &error))
        return Error{"file", QFileDevice::WriteError, error.toStdString()};
    return {};
}

Result<QString> keepUnreadable(const QString& path) {
    const QFileInfo info(path);
    if (!QFileInfo::exists(path) || !requireRegularFile(path)) return QString();
    const QDir folder = info.absoluteDir();
    const QString stem = info.completeBaseName() + ".unreadable-";
    for (const QString& name : folder.entryList({stem + "*.json"}, QDir::Files | QDir::Hidden)) {
        if (sameContent(path, folder.filePath(name))) {
            qCWarning(logStore) << "the unreadable" << info.fileName() << "is kept as" << name << "already";
            return folder.filePath(name);
        }
    }
    const QString base = folder.filePath(stem + QDateTime::currentDateTimeUtc().toString("yyyyMMdd-HHmmss"));
    QString target = base + ".json";
    for (int n = 2; QFileInfo::exists(target); ++n) target = base + "-" + QString::number(n) + ".json";
    if (Status copied = copyAtomically(path, target); !copied) {
        qCWarning(logStore) << "the unreadable" << path
                            << "could not be kept aside:" << copied.error().description.c_str();
        return copied.error();
    }
    qCWarning(logStore) << "the unreadable" << path << "is kept as" << target;
    return target;
}

int removeLeftovers(const QString& dir, const QString& finalNames) {
    const QRegularExpression temporary("^(?:" + finalNames + ")\\.[A-Za-z0-9]{6}$");
    const QDir folder(dir);
    int removed = 0;
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!temporary.match(name).hasMatch()) continue;
        if (QFile::remove(folder.filePath(name))) {
            ++removed;
            qCDebug(logStore) << "removed" << name << ", left by a save that did not finish";
        }
    }
    return removed;
}

}  // namespace StoreFiles

}  // namespace quorvel
