#include "platform/Log.h"

#include <atomic>
#include <cstdio>

namespace quorvel::Log {

namespace {

void stderrSink(Area area, Level level, std::string_view message) {
    if (level != Level::warning) return;
    std::fprintf(stderr, "%s: %.*s\n", categoryName(area), static_cast<int>(message.size()), message.data());
}

std::atomic<Sink> g_sink{&stderrSink};

}  // namespace

void setSink(Sink sink) { g_sink.store(sink ? sink : &stderrSink, std::memory_order_release); }

void write(Area area, Level level, std::string_view message) {
    g_sink.load(std::memory_order_acquire)(area, level, message);
}

const char* categoryName(Area area) {
    switch (area) {
        case Area::audio:
            return "quorvel.audio";
        case Area::music:
            return "quorvel.music";
        case Area::store:
            return "quorvel.store";
    }
    return "quorvel";
}

}  // namespace quorvel::Log
