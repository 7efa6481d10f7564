#pragma once
// The application's logging categories. Each is off below warnings by default; switch one on with, for
// example, QT_LOGGING_RULES="quorvel.audio.debug=true" (or "quorvel.*.debug=true" for all).
//   quorvel.audio  device lists, stream starts, stops and failures, gaps and dropped blocks
//   quorvel.music  music server calls that fail or time out
//   quorvel.store  store loads and saves that fail, files kept aside
#include <QLoggingCategory>

namespace quorvel {

Q_DECLARE_LOGGING_CATEGORY(logAudio)
Q_DECLARE_LOGGING_CATEGORY(logMusic)
Q_DECLARE_LOGGING_CATEGORY(logStore)

namespace Logging {

// Routes the platform layer's messages (platform/Log.h) to the categories above. Idempotent; call once
// at start on the main thread before audio or music work begins.
void install();

}  // namespace Logging

}  // namespace quorvel
