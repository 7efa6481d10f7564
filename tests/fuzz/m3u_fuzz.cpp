// libFuzzer target: the M3U/M3U8 reader. Built only by scripts/fuzz-library.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "library/M3UReader.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString folder = QStringLiteral("/music/lists");
    auto entries = M3UReader::read(bytes, folder);
    if (!entries) return 0;
    for (const auto& entry : *entries) {
        if (entry.text.isEmpty()) std::abort();
        for (QChar c : entry.text)
            if (c == '\n' || c == '\r' || c == QChar(0x2028)) std::abort();
        if (entry.kind == M3UReader::Entry::Kind::remote && !entry.text.contains(QStringLiteral("://")))
            std::abort();
        if (entry.kind == M3UReader::Entry::Kind::file && !entry.text.startsWith('/')) std::abort();
        const QString last = M3UReader::lastPathComponent(entry.text);
        if (last.contains('/') && last != QStringLiteral("/")) std::abort();  // "/" only for the root itself
    }
    return 0;
}
