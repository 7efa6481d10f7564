#include "dsp/SignalPreset.h"

namespace quorvel {

const std::vector<SignalPreset>& SignalPreset::seeded() {
    using K = SignalKind;
    static const std::vector<SignalPreset> presets = {
        {"Full-range pink noise", {.kind = K::pink}},
        {"Speech-band pink \u00B7 150 Hz\u20138 kHz",
         {.kind = K::pink, .hp = 150, .lp = 8000, .filtered = true}},
        {"Sub-band pink \u00B7 35\u2013100 Hz", {.kind = K::pink, .hp = 35, .lp = 100, .filtered = true}},
        {"1 kHz reference tone", {.kind = K::sine}},
        {"63 Hz sub identification", {.kind = K::sine, .frequency = 63}},
        {"White noise", {.kind = K::white}},
        {"Brown noise", {.kind = K::brown}},
        {"Log sweep \u00B7 20 Hz\u201320 kHz", {.kind = K::logSweep}},
        {"Linear sweep \u00B7 20 Hz\u201320 kHz", {.kind = K::linearSweep}},
        {"Pulsed 1 kHz", {.kind = K::pulse}},
        {"Dual tone \u00B7 1 kHz / 1.2 kHz", {.kind = K::dual}},
    };
    return presets;
}

}  // namespace quorvel
