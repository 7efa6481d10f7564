#pragma once
// Starting layouts of directional sub arrays: an end-fire line of two to four cabinets, or a gradient
// (cardioid) pair. Positions in metres from the rear element, delays in ms, temperature in °C.
// Stateless and pure; any thread.
#include <string>
#include <vector>

namespace quorvel {

// One element of a calculated array; `id` counts from the rear (0 = rearmost).
struct ArrayElement {
    int id = 0;
    std::string label;    // "Rear", "Forward <i>" (end-fire) or "Front" (gradient pair)
    double position = 0;  // metres from the rear element along the axis
    double delayMS = 0;   // processor delay
    bool inverted = false;

    bool operator==(const ArrayElement&) const = default;
};

namespace ArrayMath {

// Speed of sound in air at `temperature` °C, m/s.
inline double speedOfSound(double temperature) { return 331.3 + 0.606 * temperature; }

// `kind` exactly "End-fire" gives `count` elements with delay growing toward the front; any other text
// gives the gradient pair (rear delayed by spacing/c and inverted). Empty unless `spacing` is finite and
// above 0, `temperature` is finite within −40 … 60 and `count` is 2 … 4 (for both kinds).
std::vector<ArrayElement> layout(const std::string& kind, int count, double spacing, double temperature);

}  // namespace ArrayMath

}  // namespace quorvel
