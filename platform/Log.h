#pragma once
// Diagnostics of the layers below Qt. Messages go to one process-wide sink: the application routes
// them to its Qt logging categories ("quorvel.audio", …; core/Logging.h), so QT_LOGGING_RULES
// switches them on. Without a sink, warnings go to stderr and the rest is dropped.
//
// Threads: any thread except an audio callback (formatting allocates); the sink is installed once at
// start, before other threads write.
#include <string_view>

namespace quorvel::Log {

enum class Area { audio, music, store };
enum class Level { debug, info, warning };

using Sink = void (*)(Area area, Level level, std::string_view message);

void setSink(Sink sink);
void write(Area area, Level level, std::string_view message);

inline void debug(Area area, std::string_view message) { write(area, Level::debug, message); }
inline void info(Area area, std::string_view message) { write(area, Level::info, message); }
inline void warning(Area area, std::string_view message) { write(area, Level::warning, message); }

// "quorvel.audio", "quorvel.music", "quorvel.store".
const char* categoryName(Area area);

}  // namespace quorvel::Log
