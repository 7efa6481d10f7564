#pragma once
// The analysis FFT: a transform of M real values done as one complex transform of M/2 points (even
// samples in the real part, odd in the imaginary part) on split real and imaginary arrays.
//
// The forward transform runs decimation in frequency and leaves the spectrum in bit-reversed order; the
// inverse runs decimation in time from that order. The analysis multiplies and accumulates spectra bin
// by bin, where the order does not matter, so no permutation pass is ever made: bin k of the spectrum
// sits at position(k).
//
// Results agree with the plain complex transform of the same real data to rounding (about 1e-15 of the
// largest bin); they are not bit-identical to it.
//
// An instance holds the twiddles of one length (about 2·M doubles) and is read-only after construction:
// any thread may use it, and several threads may use one instance at once on their own arrays.
#include <cstddef>
#include <vector>

namespace quorvel {

class RealFFT {
public:
    // `length` M: a power of two, at least 256.
    explicit RealFFT(std::size_t length);

    std::size_t length() const { return 2 * half_; }
    // M/2: the length of each of the split arrays the transforms work on.
    std::size_t half() const { return half_; }

    // Where bin k (1 ≤ k < M/2) of a spectrum sits: k with its log2(M/2) bits reversed. Bins 0 and M/2
    // share position 0 (real parts only, as the real and the imaginary part).
    std::size_t position(std::size_t k) const;

    // In place. On entry re[j] = x[2j] and im[j] = x[2j+1] for j < M/2. On return position(k) holds
    // X[k] = Σ x[n]·e^(−2πi·kn/M) for 1 ≤ k < M/2, unscaled; re[0] = X[0] and im[0] = X[M/2].
    // `padded`: x[M/2 …] is zero (and so are the arrays from M/4 on), which spares some work.
    void forward(double* re, double* im, bool padded = false) const;

    // The inverse of forward, scaled by 1/M: takes a spectrum laid out as forward leaves it (that of a
    // real signal) and returns x with re[j] = x[2j], im[j] = x[2j+1].
    void inverse(double* re, double* im) const;

private:
    struct Stage {
        std::size_t length;  // butterfly span L of a radix-4 stage (two radix-2 stages L and L/2)
        std::vector<double> w1re, w1im, w2re, w2im, w3re, w3im;  // e^(−2πi·jk/L) for j = 1, 2, 3
    };

    void transformForward(double* re, double* im, bool padded) const;
    void transformInverse(double* re, double* im) const;
    void forwardBlocks(double* re, double* im, std::size_t count, bool padded) const;
    void inverseBlocks(double* re, double* im, std::size_t count) const;
    const Stage& stage(std::size_t length) const;

    std::size_t half_;
    unsigned bits_;                      // log2(M/2)
    std::vector<Stage> stages_;          // radix-4 stages, longest first
    std::vector<double> topRe_, topIm_;  // e^(−2πi·k/(M/2)), k < M/4: the radix-2 stage an odd count needs
    std::vector<double> twRe_, twIm_;    // e^(−2πi·k/M) at position(k): the split into the real spectrum
};

}  // namespace quorvel
