#include "kit/QVFormat.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

namespace quorvel {

QString qvFormat(const char* format, ...) {
    char small[256];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    QString out;
    if (needed < 0) {
        out = QString();
    } else if (std::size_t(needed) < sizeof small) {
        out = QString::fromUtf8(small, needed);
    } else {
        std::vector<char> big(std::size_t(needed) + 1);
        std::vsnprintf(big.data(), big.size(), format, again);
        out = QString::fromUtf8(big.data(), needed);
    }
    va_end(again);
    return out;
}

QString qvFixed(double value, int decimals) { return qvFormat("%.*f", decimals < 0 ? 0 : decimals, value); }

QString qvTime(double seconds) {
    if (!std::isfinite(seconds)) return QStringLiteral("0:00");
    const double whole = std::trunc(seconds);
    if (whole <= 0) return QStringLiteral("0:00");
    // 2^63 is exactly representable; anything at or above it would overflow the conversion.
    constexpr double kLimit = 9223372036854775808.0;
    const std::int64_t s = whole >= kLimit ? std::numeric_limits<std::int64_t>::max() : std::int64_t(whole);
    return qvFormat("%lld:%02lld", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
}

QString qvLiteral(const QString& text) {
    return QString(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString qvShown(const QString& label) {
    QString out;
    out.reserve(label.size());
    for (qsizetype i = 0; i < label.size(); ++i) {
        if (label[i] != QLatin1Char('&')) {
            out += label[i];
        } else if (i + 1 < label.size() && label[i + 1] == QLatin1Char('&')) {
            out += QLatin1Char('&');
            ++i;
        }
    }
    return out;
}

}  // namespace quorvel
