#pragma once
// Read-out formatting. Numbers on screen follow C's printf rules ("%.1f" of 0.25 is "0.2", where Qt's
// own formatting would round it to "0.3"), so every read-out is built through std::snprintf.
#include <QString>

namespace quorvel {

// printf-style formatting into a QString (UTF-8 format and arguments). Any thread.
QString qvFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// `value` with exactly `decimals` fraction digits, as "%.*f" would write it. Any thread.
QString qvFixed(double value, int decimals);

// Seconds as minutes and seconds, "m:ss": the whole seconds (truncated toward zero, negatives as 0)
// divided into minutes, unlimited, and two-digit seconds. Non-finite input reads "0:00"; values
// beyond the 64-bit range read as that range's end. Any thread.
QString qvTime(double seconds);

}  // namespace quorvel
