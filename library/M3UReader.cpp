#include "library/M3UReader.h"

#include <QStringDecoder>

namespace quorvel {

namespace M3UReader {

namespace {
bool isLineBreak(QChar c) {
    switch (c.unicode()) {
        case '\n':
        case '\r':
        case '\v':
        case '\f':
        case 0x0085:
        case 0x2028:
        case 0x2029:
            return true;
        default:
            return false;
    }
}
}  // namespace

Result<QList<Entry>> read(const QByteArray& bytes, const QString& folder) {
    QByteArrayView body(bytes);
    // Editors on other systems often start UTF-8 files with a byte-order mark; left in, it would make the
    // "#EXTM3U" header an entry of its own.
    if (body.startsWith("\xEF\xBB\xBF")) body = body.sliced(3);
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(body);
    if (decoder.hasError()) return Error{"text", 1, "The file is not valid UTF-8 text."};

    QList<Entry> entries;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isLineBreak(text[i])) continue;
        QString entry = text.mid(start, i - start).trimmed();
        start = i + 1;
        if (entry.isEmpty() || entry.startsWith('#')) continue;
        if (entry.contains(QStringLiteral("://")))
            entries.push_back({Entry::Kind::remote, entry});
        else if (entry.startsWith('/'))
            entries.push_back({Entry::Kind::file, entry});
        else
            entries.push_back({Entry::Kind::file, folder + '/' + entry});
    }
    return entries;
}

QString lastPathComponent(const QString& path) {
    qsizetype end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    qsizetype slash = path.lastIndexOf('/', end - 1);
    if (end == 1 && path.startsWith('/')) return QStringLiteral("/");
    return path.mid(slash + 1, end - slash - 1);
}

}  // namespace M3UReader

}  // namespace quorvel
