#include "dsp/RealFFT.h"

#include <cassert>
#include <cmath>
#include <cstring>

#include "dsp/VectorLanes.h"

namespace quorvel {

namespace {

// The butterflies work on eight values at a time (dsp/VectorLanes.h).

// Blocks this long (complex values; 64 KiB) run all their remaining stages before the next is touched.
constexpr std::size_t cacheBlock = std::size_t{1} << 12;
// The last four radix-2 stages run inside blocks of 16 values, two vectors.
constexpr std::size_t bottom = 16;

// (ar + i·ai)·(br + i·bi), and the same with b conjugated.
[[gnu::always_inline]] inline void mul(Lanes& ar, Lanes& ai, Lanes br, Lanes bi) {
    const Lanes r = ar * br - ai * bi;
    ai = ar * bi + ai * br;
    ar = r;
}
[[gnu::always_inline]] inline void mulConj(Lanes& ar, Lanes& ai, Lanes br, Lanes bi) {
    const Lanes r = ar * br + ai * bi;
    ai = ai * br - ar * bi;
    ar = r;
}

// The constants of the four stages inside a 16-value block: the twiddles e^(−2πi·j/16) of the stage
// that pairs the two vectors, and for the stages of span 8 and 4, whose pairs lie inside one vector,
// a twiddle per lane that is 1 where the lane takes the sum.
struct BottomConstants {
    Lanes w16re, w16im, w8re, w8im, w4re, w4im;
    Lanes sign8, sign4, sign2;  // +1 where the lane takes the sum, −1 where it takes the difference
};

const BottomConstants& bottomConstants() {
    static const BottomConstants c = [] {
        BottomConstants k{};
        auto w = [](std::size_t j, std::size_t span, double& re, double& im) {
            const double theta = -2.0 * M_PI / static_cast<double>(span);
            re = std::cos(theta * static_cast<double>(j));
            im = std::sin(theta * static_cast<double>(j));
        };
        for (std::size_t l = 0; l < lanes; ++l) {
            w(l, 16, k.w16re[l], k.w16im[l]);
            const bool odd8 = (l & 4) != 0, odd4 = (l & 2) != 0, odd2 = (l & 1) != 0;
            k.w8re[l] = 1, k.w8im[l] = 0, k.w4re[l] = 1, k.w4im[l] = 0;
            if (odd8) w(l & 3, 8, k.w8re[l], k.w8im[l]);
            if (odd4) w(l & 1, 4, k.w4re[l], k.w4im[l]);
            k.sign8[l] = odd8 ? -1 : 1;
            k.sign4[l] = odd4 ? -1 : 1;
            k.sign2[l] = odd2 ? -1 : 1;
        }
        return k;
    }();
    return c;
}

constexpr LaneMask swap4 = {4, 5, 6, 7, 0, 1, 2, 3};
constexpr LaneMask swap2 = {2, 3, 0, 1, 6, 7, 4, 5};
constexpr LaneMask swap1 = {1, 0, 3, 2, 5, 4, 7, 6};

// Decimation in frequency inside one vector: lanes l and l ^ span pair up; the sum stays in the lower
// lane, the difference times the lane's twiddle goes to the upper one.
[[gnu::always_inline]] inline void difInside(Lanes& re, Lanes& im, LaneMask swap, Lanes sign) {
    re = __builtin_shuffle(re, swap) + sign * re;
    im = __builtin_shuffle(im, swap) + sign * im;
}

// Decimation in time inside one vector: the upper lane is first multiplied by its twiddle.
[[gnu::always_inline]] inline void ditInside(Lanes& re, Lanes& im, LaneMask swap, Lanes sign) {
    const Lanes sr = __builtin_shuffle(re, swap), si = __builtin_shuffle(im, swap);
    re = sr + sign * re;
    im = si + sign * im;
}

QV_VECTOR_CLONES
void bottomForward(double* re, double* im, std::size_t count) {
    const BottomConstants& c = bottomConstants();
    for (std::size_t b = 0; b < count; b += bottom) {
        Lanes ar = load(re + b), ai = load(im + b), br = load(re + b + 8), bi = load(im + b + 8);
        Lanes dr = ar - br, di = ai - bi;
        ar = ar + br, ai = ai + bi;
        mul(dr, di, c.w16re, c.w16im);
        br = dr, bi = di;
        difInside(ar, ai, swap4, c.sign8);
        mul(ar, ai, c.w8re, c.w8im);
        difInside(br, bi, swap4, c.sign8);
        mul(br, bi, c.w8re, c.w8im);
        difInside(ar, ai, swap2, c.sign4);
        mul(ar, ai, c.w4re, c.w4im);
        difInside(br, bi, swap2, c.sign4);
        mul(br, bi, c.w4re, c.w4im);
        difInside(ar, ai, swap1, c.sign2);
        difInside(br, bi, swap1, c.sign2);
        store(re + b, ar), store(im + b, ai), store(re + b + 8, br), store(im + b + 8, bi);
    }
}

QV_VECTOR_CLONES
void bottomInverse(double* re, double* im, std::size_t count) {
    const BottomConstants& c = bottomConstants();
    for (std::size_t b = 0; b < count; b += bottom) {
        Lanes ar = load(re + b), ai = load(im + b), br = load(re + b + 8), bi = load(im + b + 8);
        ditInside(ar, ai, swap1, c.sign2);
        ditInside(br, bi, swap1, c.sign2);
        mulConj(ar, ai, c.w4re, c.w4im);
        ditInside(ar, ai, swap2, c.sign4);
        mulConj(br, bi, c.w4re, c.w4im);
        ditInside(br, bi, swap2, c.sign4);
        mulConj(ar, ai, c.w8re, c.w8im);
        ditInside(ar, ai, swap4, c.sign8);
        mulConj(br, bi, c.w8re, c.w8im);
        ditInside(br, bi, swap4, c.sign8);
        mulConj(br, bi, c.w16re, c.w16im);
        store(re + b, ar + br), store(im + b, ai + bi);
        store(re + b + 8, ar - br), store(im + b + 8, ai - bi);
    }
}

// Two radix-2 stages of span L and L/2 at once over `count` values (a multiple of L), quarter q = L/4.
QV_VECTOR_CLONES
void radix4Forward(double* re, double* im, std::size_t count, std::size_t length, const double* w1re,
                   const double* w1im, const double* w2re, const double* w2im, const double* w3re,
                   const double* w3im) {
    const std::size_t q = length / 4;
    for (std::size_t s = 0; s < count; s += length) {
        double *r0 = re + s, *i0 = im + s;
        for (std::size_t k = 0; k < q; k += lanes) {
            const Lanes a0r = load(r0 + k), a0i = load(i0 + k), a1r = load(r0 + k + q),
                        a1i = load(i0 + k + q);
            const Lanes a2r = load(r0 + k + 2 * q), a2i = load(i0 + k + 2 * q), a3r = load(r0 + k + 3 * q),
                        a3i = load(i0 + k + 3 * q);
            const Lanes t0r = a0r + a2r, t0i = a0i + a2i, t1r = a0r - a2r, t1i = a0i - a2i;
            const Lanes t2r = a1r + a3r, t2i = a1i + a3i, t3r = a1r - a3r, t3i = a1i - a3i;
            Lanes c1r = t0r - t2r, c1i = t0i - t2i;
            Lanes c2r = t1r + t3i, c2i = t1i - t3r;  // t1 − i·t3
            Lanes c3r = t1r - t3i, c3i = t1i + t3r;  // t1 + i·t3
            mul(c1r, c1i, load(w2re + k), load(w2im + k));
            mul(c2r, c2i, load(w1re + k), load(w1im + k));
            mul(c3r, c3i, load(w3re + k), load(w3im + k));
            store(r0 + k, t0r + t2r), store(i0 + k, t0i + t2i);
            store(r0 + k + q, c1r), store(i0 + k + q, c1i);
            store(r0 + k + 2 * q, c2r), store(i0 + k + 2 * q, c2i);
            store(r0 + k + 3 * q, c3r), store(i0 + k + 3 * q, c3i);
        }
    }
}

QV_VECTOR_CLONES
void radix4Inverse(double* re, double* im, std::size_t count, std::size_t length, const double* w1re,
                   const double* w1im, const double* w2re, const double* w2im, const double* w3re,
                   const double* w3im) {
    const std::size_t q = length / 4;
    for (std::size_t s = 0; s < count; s += length) {
        double *r0 = re + s, *i0 = im + s;
        for (std::size_t k = 0; k < q; k += lanes) {
            const Lanes x0r = load(r0 + k), x0i = load(i0 + k);
            Lanes u1r = load(r0 + k + q), u1i = load(i0 + k + q);
            Lanes u2r = load(r0 + k + 2 * q), u2i = load(i0 + k + 2 * q);
            Lanes u3r = load(r0 + k + 3 * q), u3i = load(i0 + k + 3 * q);
            mulConj(u1r, u1i, load(w2re + k), load(w2im + k));
            mulConj(u2r, u2i, load(w1re + k), load(w1im + k));
            mulConj(u3r, u3i, load(w3re + k), load(w3im + k));
            const Lanes sr = x0r + u1r, si = x0i + u1i, dr = x0r - u1r, di = x0i - u1i;
            const Lanes pr = u2r + u3r, pi = u2i + u3i, mr = u2r - u3r, mi = u2i - u3i;
            store(r0 + k, sr + pr), store(i0 + k, si + pi);
            store(r0 + k + 2 * q, sr - pr), store(i0 + k + 2 * q, si - pi);
            store(r0 + k + q, dr - mi), store(i0 + k + q, di + mr);          // d + i·m
            store(r0 + k + 3 * q, dr + mi), store(i0 + k + 3 * q, di - mr);  // d − i·m
        }
    }
}

// The radix-4 stage spanning all n values when their upper half is zero (a padded signal): a2 = a3 = 0.
QV_VECTOR_CLONES
void radix4ForwardPadded(double* re, double* im, std::size_t n, const double* w1re, const double* w1im,
                         const double* w2re, const double* w2im, const double* w3re, const double* w3im) {
    const std::size_t q = n / 4;
    for (std::size_t k = 0; k < q; k += lanes) {
        const Lanes a0r = load(re + k), a0i = load(im + k), a1r = load(re + k + q), a1i = load(im + k + q);
        Lanes c1r = a0r - a1r, c1i = a0i - a1i;
        Lanes c2r = a0r + a1i, c2i = a0i - a1r;  // a0 − i·a1
        Lanes c3r = a0r - a1i, c3i = a0i + a1r;  // a0 + i·a1
        mul(c1r, c1i, load(w2re + k), load(w2im + k));
        mul(c2r, c2i, load(w1re + k), load(w1im + k));
        mul(c3r, c3i, load(w3re + k), load(w3im + k));
        store(re + k, a0r + a1r), store(im + k, a0i + a1i);
        store(re + k + q, c1r), store(im + k + q, c1i);
        store(re + k + 2 * q, c2r), store(im + k + 2 * q, c2i);
        store(re + k + 3 * q, c3r), store(im + k + 3 * q, c3i);
    }
}

// One radix-2 stage spanning all n values, for a count of stages that radix 4 leaves odd. With `padded`
// the upper half is zero and only the lower one is read.
QV_VECTOR_CLONES
void radix2Forward(double* re, double* im, std::size_t n, const double* wre, const double* wim, bool padded) {
    const std::size_t h = n / 2;
    for (std::size_t k = 0; k < h; k += lanes) {
        const Lanes er = load(re + k), ei = load(im + k);
        if (padded) {
            Lanes dr = er, di = ei;
            mul(dr, di, load(wre + k), load(wim + k));
            store(re + k + h, dr), store(im + k + h, di);
            continue;
        }
        const Lanes or_ = load(re + k + h), oi = load(im + k + h);
        Lanes dr = er - or_, di = ei - oi;
        mul(dr, di, load(wre + k), load(wim + k));
        store(re + k, er + or_), store(im + k, ei + oi);
        store(re + k + h, dr), store(im + k + h, di);
    }
}

QV_VECTOR_CLONES
void radix2Inverse(double* re, double* im, std::size_t n, const double* wre, const double* wim) {
    const std::size_t h = n / 2;
    for (std::size_t k = 0; k < h; k += lanes) {
        const Lanes er = load(re + k), ei = load(im + k);
        Lanes tr = load(re + k + h), ti = load(im + k + h);
        mulConj(tr, ti, load(wre + k), load(wim + k));
        store(re + k, er + tr), store(im + k, ei + ti);
        store(re + k + h, er - tr), store(im + k + h, ei - ti);
    }
}

}  // namespace

RealFFT::RealFFT(std::size_t length) : half_(length / 2), bits_(log2Of(length / 2)) {
    assert(length >= 256 && (length & (length - 1)) == 0);
    const std::size_t n = half_;
    stages_.resize(bits_ + 1);
    // Radix-4 spans: from n (an even count of stages above the bottom block) or n/2 (odd) down to 64.
    for (std::size_t span = (bits_ % 2 == 0) ? n : n / 2; span >= 64; span /= 4) {
        Stage& s = stages_[log2Of(span)];
        s.length = span;
        const double theta = -2.0 * M_PI / static_cast<double>(span);
        for (auto* v : {&s.w1re, &s.w1im, &s.w2re, &s.w2im, &s.w3re, &s.w3im}) v->resize(span / 4);
        for (std::size_t k = 0; k < span / 4; ++k) {
            const double dk = static_cast<double>(k);
            s.w1re[k] = std::cos(theta * dk), s.w1im[k] = std::sin(theta * dk);
            s.w2re[k] = std::cos(theta * 2 * dk), s.w2im[k] = std::sin(theta * 2 * dk);
            s.w3re[k] = std::cos(theta * 3 * dk), s.w3im[k] = std::sin(theta * 3 * dk);
        }
    }
    if (bits_ % 2 == 1) {
        const double theta = -2.0 * M_PI / static_cast<double>(n);
        topRe_.resize(n / 2), topIm_.resize(n / 2);
        for (std::size_t k = 0; k < n / 2; ++k)
            topRe_[k] = std::cos(theta * static_cast<double>(k)),
            topIm_[k] = std::sin(theta * static_cast<double>(k));
    }
    const double theta = -2.0 * M_PI / static_cast<double>(length);
    twRe_.resize(n), twIm_.resize(n);
    for (std::size_t p = 0; p < n; ++p) {
        const double k = static_cast<double>(reverseBits(p, bits_));
        twRe_[p] = std::cos(theta * k), twIm_[p] = std::sin(theta * k);
    }
}

std::size_t RealFFT::position(std::size_t k) const { return reverseBits(k, bits_); }

const RealFFT::Stage& RealFFT::stage(std::size_t length) const { return stages_[log2Of(length)]; }

void RealFFT::forwardBlocks(double* re, double* im, std::size_t count, bool padded) const {
    auto run = [&](std::size_t span) {
        const Stage& s = stage(span);
        if (padded && span == count)
            radix4ForwardPadded(re, im, count, s.w1re.data(), s.w1im.data(), s.w2re.data(), s.w2im.data(),
                                s.w3re.data(), s.w3im.data());
        else
            radix4Forward(re, im, count, span, s.w1re.data(), s.w1im.data(), s.w2re.data(), s.w2im.data(),
                          s.w3re.data(), s.w3im.data());
    };
    if (count <= cacheBlock) {
        for (std::size_t span = count; span >= 64; span /= 4) run(span);
        bottomForward(re, im, count);
        return;
    }
    run(count);
    const std::size_t quarter = count / 4;
    for (std::size_t b = 0; b < 4; ++b) forwardBlocks(re + b * quarter, im + b * quarter, quarter, false);
}

void RealFFT::inverseBlocks(double* re, double* im, std::size_t count) const {
    auto run = [&](std::size_t span) {
        const Stage& s = stage(span);
        radix4Inverse(re, im, count, span, s.w1re.data(), s.w1im.data(), s.w2re.data(), s.w2im.data(),
                      s.w3re.data(), s.w3im.data());
    };
    if (count <= cacheBlock) {
        bottomInverse(re, im, count);
        for (std::size_t span = 64; span <= count; span *= 4) run(span);
        return;
    }
    const std::size_t quarter = count / 4;
    for (std::size_t b = 0; b < 4; ++b) inverseBlocks(re + b * quarter, im + b * quarter, quarter);
    run(count);
}

void RealFFT::transformForward(double* re, double* im, bool padded) const {
    const std::size_t n = half_;
    if (bits_ % 2 == 0) return forwardBlocks(re, im, n, padded);
    radix2Forward(re, im, n, topRe_.data(), topIm_.data(), padded);
    forwardBlocks(re, im, n / 2, false);
    forwardBlocks(re + n / 2, im + n / 2, n / 2, false);
}

void RealFFT::transformInverse(double* re, double* im) const {
    const std::size_t n = half_;
    if (bits_ % 2 == 0) return inverseBlocks(re, im, n);
    inverseBlocks(re, im, n / 2);
    inverseBlocks(re + n / 2, im + n / 2, n / 2);
    radix2Inverse(re, im, n, topRe_.data(), topIm_.data());
}

namespace {

constexpr LaneMask reverse = {7, 6, 5, 4, 3, 2, 1, 0};

// Inlined into each compiled form of its callers (a vector helper left out of line would be built for
// the baseline only).
// The pairs of one bit-reversed block: p from block to 1.5·block, its partner q = 3·block − 1 − p. `step`
// is given each pair's four values (p's and q's) and the twiddle at p, and returns the new four.
// Eight pairs at a time where a block holds enough; q's vector is read and written lane-reversed.
template <typename Step>
[[gnu::always_inline]] inline void forEachPair(double* re, double* im, const double* twRe, const double* twIm,
                                               std::size_t half, Step step) {
    for (std::size_t block = 2; block < half; block *= 2) {
        const std::size_t mirror = 3 * block - 1;
        std::size_t p = block;
        for (; block >= 2 * lanes && p < block + block / 2; p += lanes) {
            const std::size_t q = mirror - (p + lanes - 1);
            Lanes pr = load(re + p), pi = load(im + p);
            Lanes qr = __builtin_shuffle(load(re + q), reverse),
                  qi = __builtin_shuffle(load(im + q), reverse);
            step(pr, pi, qr, qi, load(twRe + p), load(twIm + p));
            store(re + p, pr), store(im + p, pi);
            store(re + q, __builtin_shuffle(qr, reverse)), store(im + q, __builtin_shuffle(qi, reverse));
        }
        for (; p < block + block / 2; ++p) {
            const std::size_t q = mirror - p;
            step(re[p], im[p], re[q], im[q], twRe[p], twIm[p]);
        }
    }
}

// With E = (Z[k] + conj Z[n−k])/2, O = (Z[k] − conj Z[n−k])/2 and w = e^(−2πi·k/M):
// X[k] = E − i·w·O and X[n−k] = conj(E + i·w·O).
struct SplitStep {
    template <typename T>
    [[gnu::always_inline]] void operator()(T& pr, T& pi, T& qr, T& qi, T wr, T wi) const {
        const T er = 0.5 * (pr + qr), ei = 0.5 * (pi - qi);
        const T or_ = 0.5 * (pr - qr), oi = 0.5 * (pi + qi);
        const T tr = wr * or_ - wi * oi, ti = wr * oi + wi * or_;  // w·O; i·w·O = (−ti, tr)
        pr = er + ti, pi = ei - tr;
        qr = er - ti, qi = -(ei + tr);
    }
};

// The split undone: E = (X[k] + conj X[n−k])/2, i·w·O = (conj X[n−k] − X[k])/2, Z[k] = E + O and
// Z[n−k] = conj(E − O); `scale` replaces the halves, to fold in the inverse's 1/M.
struct MergeStep {
    double scale;
    template <typename T>
    [[gnu::always_inline]] void operator()(T& pr, T& pi, T& qr, T& qi, T wr, T wi) const {
        const T er = scale * (pr + qr), ei = scale * (pi - qi);
        const T tr = scale * (qr - pr), ti = -scale * (qi + pi);
        const T cr = wr * tr + wi * ti, ci = wr * ti - wi * tr;  // conj(w)·T; O = −i·that = (ci, −cr)
        pr = er + ci, pi = ei - cr;
        qr = er - ci, qi = -(ei + cr);
    }
};

QV_VECTOR_CLONES
void split(double* re, double* im, const double* twRe, const double* twIm, std::size_t half) {
    forEachPair(re, im, twRe, twIm, half, SplitStep{});
}

QV_VECTOR_CLONES
void merge(double* re, double* im, const double* twRe, const double* twIm, std::size_t half, double scale) {
    forEachPair(re, im, twRe, twIm, half, MergeStep{scale});
}

}  // namespace

// Bins 0 and n/2 of Z pair with themselves: X[0] and X[M/2] are real and share position 0, and
// X[n/2] = conj Z[n/2]. In bit-reversed order bin n − k sits at the mirror image of k's position inside
// its power-of-two block.
void RealFFT::forward(double* re, double* im, bool padded) const {
    transformForward(re, im, padded);
    const double z0r = re[0], z0i = im[0];
    re[0] = z0r + z0i;
    im[0] = z0r - z0i;
    im[1] = -im[1];
    split(re, im, twRe_.data(), twIm_.data(), half_);
}

void RealFFT::inverse(double* re, double* im) const {
    const double scale = 1.0 / static_cast<double>(length());
    const double x0 = re[0], xn = im[0];
    re[0] = (x0 + xn) * scale;
    im[0] = (x0 - xn) * scale;
    re[1] = 2 * scale * re[1];
    im[1] = -2 * scale * im[1];
    merge(re, im, twRe_.data(), twIm_.data(), half_, scale);
    transformInverse(re, im);
}

}  // namespace quorvel
