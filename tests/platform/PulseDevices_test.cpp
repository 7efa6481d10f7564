#include "platform/PulseDevices.h"

#include <gtest/gtest.h>

#include <tuple>

namespace quorvel {

namespace {

// name, sink, source, inputs, outputs, rate, default input, default output
using Row = std::tuple<std::string, std::string, std::string, int, int, double, bool, bool>;

PulseDevices::Node node(std::string name, std::string description, int channels, double rateHz,
                        std::string monitorOf = {}) {
    return {std::move(name), std::move(description), channels, rateHz, std::move(monitorOf)};
}

std::vector<Row> rows(const PulseDevices::Listing& listing) {
    std::vector<Row> rows;
    for (const auto& d : listing.devices)
        rows.emplace_back(d.name, d.sink, d.source, d.inputChannels, d.outputChannels, d.sampleRateHz,
                          d.defaultInput, d.defaultOutput);
    return rows;
}

}  // namespace

// RtAudio 5.2's rules where they hold: the default sink and then the default source go first; a source with
// a sink's description joins that device (its channels, name and default flag win, the sink's rate stays);
// a monitor with its sink's description (pipewire-pulse) makes one device, and a later source of that
// description takes the monitor's place.
TEST(PulseDevices, MergeListsAsRtAudio52Did) {
    PulseDevices::ServerState state;
    state.defaultSink = "b";
    state.defaultSource = "a.monitor";
    state.sinks = {node("a", "A", 2, 48000), node("b", "B", 6, 48000), node("c", "C", 4, 44100)};
    state.sources = {node("a.monitor", "Monitor of A", 2, 48000, "a"), node("b.monitor", "B", 6, 48000, "b"),
                     node("c.monitor", "C", 4, 44100, "c"), node("c.in", "C", 1, 48000)};
    const auto listing = PulseDevices::merge(state);
    EXPECT_EQ(rows(listing), (std::vector<Row>{{"Monitor of A", "", "a.monitor", 2, 0, 48000, true, false},
                                               {"B", "b", "b.monitor", 6, 6, 48000, false, true},
                                               {"A", "a", "", 0, 2, 48000, false, false},
                                               {"C", "c", "c.in", 1, 4, 44100, false, false}}));
    EXPECT_EQ(listing.defaultInput, 0u);
    EXPECT_EQ(listing.defaultOutput, 1u);

    // No default flagged (the server has none): the first.
    state.defaultSink = "x";
    state.defaultSource.clear();
    const auto fallback = PulseDevices::merge(state);
    EXPECT_EQ(fallback.devices[0].name, "A");
    EXPECT_EQ(fallback.defaultOutput, 0u);
    EXPECT_EQ(fallback.defaultInput, 0u);
}

// Two interfaces of one model: each sink is a device with its own monitor, paired by the server's names
// whatever the order; the interfaces' own sources take the monitors' places one each, and a third source
// of the name, like two sources without a sink, stands alone. Under PulseAudio the monitors, described
// "Monitor of …", are devices of their own, one each.
TEST(PulseDevices, SinksOrSourcesOfOneDescriptionStayApart) {
    PulseDevices::ServerState state;
    state.sinks = {node("twin_b", "twin", 6, 48000), node("twin_a", "twin", 2, 44100)};
    state.sources = {node("twin_a.monitor", "twin", 2, 44100, "twin_a"),
                     node("twin_b.monitor", "twin", 6, 48000, "twin_b")};
    EXPECT_EQ(rows(PulseDevices::merge(state)),
              (std::vector<Row>{{"twin", "twin_b", "twin_b.monitor", 6, 6, 48000, false, false},
                                {"twin", "twin_a", "twin_a.monitor", 2, 2, 44100, false, false}}));

    state.sources.insert(
        state.sources.end(),
        {node("mic_1", "twin", 1, 48000), node("mic_2", "twin", 1, 48000), node("mic_3", "twin", 1, 48000),
         node("usb_1", "USB Mic", 1, 48000), node("usb_2", "USB Mic", 2, 48000)});
    EXPECT_EQ(rows(PulseDevices::merge(state)),
              (std::vector<Row>{{"twin", "twin_b", "mic_1", 1, 6, 48000, false, false},
                                {"twin", "twin_a", "mic_2", 1, 2, 44100, false, false},
                                {"twin", "", "mic_3", 1, 0, 48000, false, false},
                                {"USB Mic", "", "usb_1", 1, 0, 48000, false, false},
                                {"USB Mic", "", "usb_2", 2, 0, 48000, false, false}}));

    state.sources = {node("twin_a.monitor", "Monitor of twin", 2, 44100, "twin_a"),
                     node("twin_b.monitor", "Monitor of twin", 6, 48000, "twin_b")};
    EXPECT_EQ(rows(PulseDevices::merge(state)),
              (std::vector<Row>{{"twin", "twin_b", "", 0, 6, 48000, false, false},
                                {"twin", "twin_a", "", 0, 2, 44100, false, false},
                                {"Monitor of twin", "", "twin_a.monitor", 2, 0, 44100, false, false},
                                {"Monitor of twin", "", "twin_b.monitor", 6, 0, 48000, false, false}}));
}

}  // namespace quorvel
