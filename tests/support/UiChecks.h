#pragma once
// Checks shared by the UI tests: colour contrast as WCAG 2 measures it, and the warnings logged meanwhile.
#include <QColor>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <functional>

// The contrast ratio (L1 + 0.05) / (L2 + 0.05) of two opaque colours' relative luminances, lighter first.
inline double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The warnings logged while `run` runs (and only those: other messages are dropped meanwhile).
inline QStringList warningsDuring(const std::function<void()>& run) {
    static QStringList* sink = nullptr;
    QStringList warnings;
    sink = &warnings;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (type == QtWarningMsg && sink) sink->append(message);
        });
    run();
    qInstallMessageHandler(previous);
    sink = nullptr;
    return warnings;
}
