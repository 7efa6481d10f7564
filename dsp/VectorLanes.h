#pragma once
// What the FFT kernels (ComplexFFT.cpp, RealFFT.cpp) share: the bit arithmetic of power-of-two lengths,
// eight doubles per vector with the compiler's vector extension, and the attribute that compiles a kernel for
// AVX-512, AVX2 and the baseline and picks one at load time. Each lane does exactly the scalar operations
// (dsp/ builds with -ffp-contract=off, so no fused multiply-add can creep in), so the lane width never
// changes a result.
//
// For the .cpp files of dsp/ only: it turns off -Wpsabi for the rest of the file that includes it.
#include <cstddef>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QV_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define QV_VECTOR_CLONES
#endif

// The helpers taking and returning vectors have internal linkage and are inlined into each compiled form
// of their callers (a vector helper left out of line would be built for the baseline only), so the
// calling convention that GCC warns about never meets code compiled elsewhere.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace quorvel {
namespace {

// The b with 2^b = n, for n a power of two (for any n, the smallest b with 2^b >= n).
inline unsigned log2Of(std::size_t n) {
    unsigned bits = 0;
    while ((std::size_t{1} << bits) < n) ++bits;
    return bits;
}

// The lowest `bits` bits of `value` in reverse order.
inline std::size_t reverseBits(std::size_t value, unsigned bits) {
    std::size_t reversed = 0;
    for (unsigned i = 0; i < bits; ++i, value >>= 1) reversed = (reversed << 1) | (value & 1);
    return reversed;
}

constexpr std::size_t lanes = 8;
using Lanes = double __attribute__((vector_size(lanes * sizeof(double))));
using LaneMask = long __attribute__((vector_size(lanes * sizeof(long))));

[[gnu::always_inline]] inline Lanes load(const double* p) {
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
[[gnu::always_inline]] inline void store(double* p, Lanes v) { std::memcpy(p, &v, sizeof v); }

}  // namespace
}  // namespace quorvel
