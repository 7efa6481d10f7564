#pragma once
// Uniform random values for the noise generators (xoshiro256**). The product makes a fresh, unseeded
// source for every render; tests pass a seeded one to get a repeatable sequence.
// One source per thread: an instance is not shared between threads.
#include <cstdint>

namespace quorvel {

class RandomSource {
public:
    // Seeded from the operating system's entropy: a different sequence every time.
    RandomSource();
    // The same seed gives the same sequence on every machine.
    explicit RandomSource(std::uint64_t seed);

    // Uniform over the closed range -1 ... 1 (53 bits of resolution).
    double nextSigned() {
        return static_cast<double>(next() >> 11) * (2.0 / 9007199254740991.0) - 1.0;  // (2^53 - 1) steps
    }

    std::uint64_t next() {
        const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    void seed(std::uint64_t value);

    std::uint64_t s_[4];
};

}  // namespace quorvel
