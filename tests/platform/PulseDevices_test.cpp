#include "platform/PulseDevices.h"

#include <gtest/gtest.h>

#include <tuple>

namespace quorvel {

// RtAudio 5.2's rules on a state that meets all of them: the default sink and then the default source go
// first; a node with a listed description merges into that device (its channels, name and default flag
// win, the first node's rate stays); a monitor with its sink's description (pipewire-pulse) makes one device.
TEST(PulseDevices, MergeListsAsRtAudio52Did) {
    PulseDevices::ServerState state;
    state.defaultSink = "b";
    state.defaultSource = "a.monitor";
    state.sinks = {{"a", "A", 2, 48000}, {"b", "B", 6, 48000}, {"c", "A", 4, 44100}};
    state.sources = {{"a.monitor", "Monitor of A", 2, 48000}, {"b.monitor", "B", 6, 48000}};
    const auto listing = PulseDevices::merge(state);
    using Row = std::tuple<std::string, std::string, std::string, int, int, double, bool, bool>;
    std::vector<Row> rows;
    for (const auto& d : listing.devices)
        rows.emplace_back(d.name, d.sink, d.source, d.inputChannels, d.outputChannels, d.sampleRateHz,
                          d.defaultInput, d.defaultOutput);
    EXPECT_EQ(rows, (std::vector<Row>{{"Monitor of A", "", "a.monitor", 2, 0, 48000, true, false},
                                      {"B", "b", "b.monitor", 6, 6, 48000, false, true},
                                      {"A", "c", "", 0, 4, 48000, false, false}}));
    EXPECT_EQ(listing.defaultInput, 0u);
    EXPECT_EQ(listing.defaultOutput, 1u);

    // No default flagged (the server has none, or a later node of the same name took the flag): the first.
    state.defaultSink = "a";
    state.defaultSource.clear();
    const auto fallback = PulseDevices::merge(state);
    EXPECT_EQ(fallback.devices[0].name, "A");
    EXPECT_FALSE(fallback.devices[0].defaultOutput);
    EXPECT_EQ(fallback.defaultOutput, 0u);
    EXPECT_EQ(fallback.defaultInput, 0u);
}

}  // namespace quorvel
