#pragma once
// The WCAG 2 contrast ratio of two opaque colours: (L1 + 0.05) / (L2 + 0.05) of their relative
// luminances, lighter over darker; 1 for equal colours, 21 for black and white.
#include <QColor>
#include <algorithm>
#include <cmath>

inline double luminance(const QColor& c) {
    const auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

inline double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
