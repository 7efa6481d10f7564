#include "dsp/ArrayMath.h"

#include <cmath>

namespace quorvel {

namespace ArrayMath {

std::vector<ArrayElement> layout(const std::string& kind, int count, double spacing, double temperature) {
    if (!std::isfinite(spacing) || spacing <= 0) return {};
    if (!std::isfinite(temperature) || temperature < -40 || temperature > 60) return {};
    const double c = speedOfSound(temperature);
    if (c <= 0) return {};
    if (count < 2 || count > 4) return {};

    if (kind == "End-fire") {
        std::vector<ArrayElement> elements;
        elements.push_back({0, "Rear", 0, 0, false});
        for (int i = 1; i < count; ++i) {
            const double position = spacing * i;
            elements.push_back({i, "Forward " + std::to_string(i), position, position / c * 1000.0, false});
        }
        return elements;
    }
    return {{0, "Rear", 0, spacing / c * 1000.0, true}, {1, "Front", spacing, 0, false}};
}

}  // namespace ArrayMath

}  // namespace quorvel
