#pragma once
// The application's logging categories, all declared here. Each shows warnings only by default; switch
// every level of one on with, for example, QT_LOGGING_RULES="quorvel.audio=true" (or "quorvel.*=true" for
// all). Device lists and stream starts and stops are info, details debug.
//   quorvel.audio  device lists, stream starts, stops and failures, gaps and dropped blocks
//   quorvel.music  music server calls that fail or time out
//   quorvel.store  store loads and saves that fail, files kept aside
//   quorvel.ui     symbols the icon set does not know
#include <QLoggingCategory>

namespace quorvel {

Q_DECLARE_LOGGING_CATEGORY(logAudio)
Q_DECLARE_LOGGING_CATEGORY(logMusic)
Q_DECLARE_LOGGING_CATEGORY(logStore)
Q_DECLARE_LOGGING_CATEGORY(logUi)

namespace Logging {

// Routes the platform layer's messages (platform/Log.h) to the categories above. Idempotent; call once
// at start on the main thread before audio or music work begins.
void install();

}  // namespace Logging

}  // namespace quorvel
