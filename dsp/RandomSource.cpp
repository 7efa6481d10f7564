#include "dsp/RandomSource.h"

#include <random>

namespace quorvel {

RandomSource::RandomSource() {
    std::random_device device;
    seed((static_cast<std::uint64_t>(device()) << 32) ^ device());
}

RandomSource::RandomSource(std::uint64_t seed) { this->seed(seed); }

void RandomSource::seed(std::uint64_t value) {
    // splitmix64 spreads any seed, 0 included, over the four words of state.
    for (auto& word : s_) {
        value += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = value;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        word = z ^ (z >> 31);
    }
}

}  // namespace quorvel
