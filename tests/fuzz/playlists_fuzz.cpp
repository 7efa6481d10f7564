// libFuzzer target: the playlists file decoder. Built only by scripts/fuzz-library.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "library/ReferencePlaylist.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    auto decoded = ReferencePlaylist::decodeList(bytes);
    if (!decoded) return 0;
    // Whatever decodes must write back, and what is written must read back to the same text.
    auto encoded = ReferencePlaylist::encodeList(*decoded);
    if (!encoded) std::abort();
    auto again = ReferencePlaylist::decodeList(*encoded);
    if (!again) std::abort();
    auto reencoded = ReferencePlaylist::encodeList(*again);
    if (!reencoded || *reencoded != *encoded) std::abort();
    for (const auto& playlist : *again)
        for (const auto& track : playlist.tracks) {
            // The title rule must give back the whole title.
            QString whole = track.artist().isEmpty() && !track.title.contains(ReferenceTrack::titleSeparator)
                                ? track.displayTitle()
                                : track.displayTitle() + ReferenceTrack::titleSeparator + track.artist();
            if (whole != track.title) std::abort();
        }
    return 0;
}
