#pragma once
// The first-order high-pass followed by a first-order low-pass that the signal renderer and the file
// processor apply. One corner rule for both: the high-pass corner is at least 10 Hz and at most
// 0.4 × rate; the low-pass corner at least 1 Hz above the high-pass corner and at most 0.45 × rate.
// Any thread; values only.
#include <algorithm>
#include <cmath>
#include <numbers>

namespace quorvel {

struct FilterCorners {
    double highHz = 0;  // effective high-pass corner
    double lowHz = 0;   // effective low-pass corner
    double highA = 0;   // exp(-2π·highHz / rate), the high-pass pole
    double lowC = 0;    // 1 - exp(-2π·lowHz / rate), the low-pass step

    // Precondition: finite hpHz and lpHz, rate > 0.
    static FilterCorners derive(double hpHz, double lpHz, double rate) {
        FilterCorners k;
        k.highHz = std::min(std::max(hpHz, 10.0), 0.4 * rate);
        k.lowHz = std::min(std::max(lpHz, k.highHz + 1), 0.45 * rate);
        k.highA = std::exp(-2 * std::numbers::pi * k.highHz / rate);
        k.lowC = 1 - std::exp(-2 * std::numbers::pi * k.lowHz / rate);
        return k;
    }
};

// The filter state of one channel; starts at rest.
struct FilterPair {
    double high = 0;  // high-pass output
    double previousInput = 0;
    double low = 0;  // low-pass output

    // y = a·(y + x − x₋₁): unity gain at Nyquist, a zero at DC.
    double highPass(double x, const FilterCorners& k) {
        high = k.highA * (high + x - previousInput);
        previousInput = x;
        return high;
    }
    // y = y + c·(x − y): unity gain at DC.
    double lowPass(double x, const FilterCorners& k) {
        low = low + k.lowC * (x - low);
        return low;
    }
    double process(double x, const FilterCorners& k) { return lowPass(highPass(x, k), k); }
};

}  // namespace quorvel
