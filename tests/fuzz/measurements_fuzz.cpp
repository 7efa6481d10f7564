// libFuzzer target: the measurements file decoder. Built by scripts/fuzz-library.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>

#include "dsp/TransferJSON.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto decoded = TransferJSON::decode(text);
    if (!decoded) return 0;
    // What decodes keeps the decoder's promises, and writes back to text that reads to the same traces.
    for (const TransferTrace& trace : *decoded) {
        std::set<int> ids;
        for (const TransferBin& bin : trace.bins)
            if (!ids.insert(bin.id).second) std::abort();
    }
    auto encoded = TransferJSON::encode(*decoded);
    if (!encoded) return 0;  // a text field that is not UTF-8 cannot be written, and says so
    auto again = TransferJSON::decode(*encoded);
    if (!again || *again != *decoded) std::abort();
    auto reencoded = TransferJSON::encode(*again);
    if (!reencoded || *reencoded != *encoded) std::abort();
    return 0;
}
