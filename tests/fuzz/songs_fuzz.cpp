// libFuzzer target: the song coding kept in a track's payload. Built by scripts/fuzz-library.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/MusicItems.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    auto song = SongCoding::decode(bytes);
    if (!song) return 0;
    if (song->id.empty()) std::abort();
    if (song->durationSeconds && !(std::isfinite(*song->durationSeconds) && *song->durationSeconds >= 0))
        std::abort();
    // What is written reads back and writes the same again (huge numbers in play parameters become null).
    auto encoded = SongCoding::encode(*song);
    if (!encoded) return 0;  // text that is not UTF-8 cannot be written, and says so
    auto again = SongCoding::decode(*encoded);
    if (!again) std::abort();
    auto reencoded = SongCoding::encode(*again);
    if (!reencoded || *reencoded != *encoded) std::abort();
    return 0;
}
