#pragma once
// Text formatting. Numbers on screen follow C's printf rules ("%.1f" of 0.25 is "0.2", where Qt's own
// formatting would round it to "0.3"), so every read-out is built through std::snprintf.
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

// `text` for an action, menu, button, check box, group box or tab: Qt reads an ampersand there as the
// mark of a shortcut key and hides it, so each one is doubled to show as itself ("Cue, loop & trim").
// Every text set on such a widget goes through here. Any thread.
QString qvLiteral(const QString& text);
// What such a widget shows for its text `label`: "&&" as "&", any other "&" dropped. Any thread.
QString qvShown(const QString& label);

}  // namespace quorvel
