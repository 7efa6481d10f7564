#include "library/StoreFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace quorvel {

namespace StoreFiles {

QString storageDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Quorvel";
}

bool ensureDirectory(const QString& dir, QString* error) {
    if (QDir().mkpath(dir)) return true;
    if (error) *error = QString("Could not create the folder “%1”.").arg(dir);
    return false;
}

Result<QByteArray> readWhole(const QString& path) {
    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly)) bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Error{"file", int(file.error()), file.errorString().toStdString()};
    return bytes;
}

bool writeAtomically(const QString& path, const QByteArray& bytes, QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        if (error) *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

QString keepUnreadable(const QString& path) {
    QFileInfo info(path);
    const QString stamp = QDateTime::currentDateTimeUtc().toString("yyyyMMdd-HHmmss");
    const QString base = info.absolutePath() + "/" + info.completeBaseName() + ".unreadable-" + stamp;
    QString target = base + ".json";
    for (int n = 2; QFileInfo::exists(target); ++n) target = base + "-" + QString::number(n) + ".json";
    return QFile::copy(path, target) ? target : QString();
}

}  // namespace StoreFiles

}  // namespace quorvel
