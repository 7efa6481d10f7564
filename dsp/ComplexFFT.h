#pragma once
// The system's complex FFT: an iterative radix-2 transform in double precision, in place, on split real
// and imaginary arrays.
//
// Its output is bit-for-bit that of the plain per-stage form which evaluates cos/sin(θ·k) inside every
// butterfly (θ = ∓2π/len); the twiddles come from tables built once per stage length and kept for the
// life of the process (about 16·N bytes per direction for the largest N seen). Any thread may call it;
// the tables are built under a once-flag.
#include <vector>

#include "platform/Result.h"

namespace quorvel {

namespace ComplexFFT {

// `real` holds N values, N a power of two (1 included); `imag` holds N values or is empty, which stands
// for N zeros (it is then resized to N).
// Forward: X[k] = Σ x[n]·e^(−2πi·kn/N), unscaled. Inverse: e^(+2πi·kn/N), divided by N.
// Refuses (arrays untouched) a length that is not a power of two, or an imaginary array of another
// non-zero length; the error is in the domain "Quorvel" with code 31.
Status transform(std::vector<double>& real, std::vector<double>& imag, bool inverse = false);

}  // namespace ComplexFFT

}  // namespace quorvel
