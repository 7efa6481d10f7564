#include "dsp/ComplexFFT.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "dsp/QuorvelError.h"
#include "dsp/VectorLanes.h"

namespace quorvel {

namespace {

bool isPowerOfTwo(std::size_t n) { return n != 0 && (n & (n - 1)) == 0; }

// Twiddles of one butterfly stage of length len: cos/sin(θ·k) for k = 0 … len/2 − 1, θ = ∓2π/len,
// evaluated with exactly the expression the per-butterfly form uses, so a table lookup gives the same
// bits as computing the value afresh. One table per stage length serves every transform size.
struct StageTable {
    std::vector<double> cosine;
    std::vector<double> sine;
};

const StageTable& stageTable(unsigned log2Len, bool inverse) {
    static std::once_flag built[2][64];
    static StageTable tables[2][64];
    const int direction = inverse ? 1 : 0;
    std::call_once(built[direction][log2Len], [&] {
        const std::size_t len = std::size_t{1} << log2Len;
        const double theta = (inverse ? 2.0 : -2.0) * M_PI / static_cast<double>(len);
        StageTable& table = tables[direction][log2Len];
        table.cosine.resize(len / 2);
        table.sine.resize(len / 2);
        for (std::size_t k = 0; k < len / 2; ++k) {
            table.cosine[k] = std::cos(theta * static_cast<double>(k));
            table.sine[k] = std::sin(theta * static_cast<double>(k));
        }
    });
    return tables[direction][log2Len];
}

// Bit-reversal permutation of one array of 2^log2n values. Any way of applying the permutation gives
// the same array; this one moves 16×16 tiles, which avoids the cache misses of swapping single values
// a power-of-two stride apart (ten times faster at 2^18).
void bitReverse(double* x, unsigned log2n) {
    const std::size_t n = std::size_t{1} << log2n;
    constexpr unsigned tileBits = 4;
    constexpr std::size_t tile = std::size_t{1} << tileBits;
    if (log2n < 2 * tileBits) {
        std::size_t j = 0;
        for (std::size_t i = 1; i < n; ++i) {
            std::size_t bit = n >> 1;
            for (; j & bit; bit >>= 1) j ^= bit;
            j |= bit;
            if (i < j) std::swap(x[i], x[j]);
        }
        return;
    }
    // Index i = (h, m, l) with h and l of tileBits bits each; its partner is (rev l, rev m, rev h).
    // The tile of middle part m therefore trades places, transposed and reversed, with that of rev m.
    const unsigned middleBits = log2n - 2 * tileBits;
    const std::size_t rowStride = std::size_t{1} << (log2n - tileBits);
    std::size_t reversedLow[tile];
    for (std::size_t i = 0; i < tile; ++i) reversedLow[i] = reverseBits(i, tileBits);
    double a[tile * tile], b[tile * tile];
    for (std::size_t m = 0; m < (std::size_t{1} << middleBits); ++m) {
        const std::size_t partner = reverseBits(m, middleBits);
        if (partner < m) continue;
        double* here = x + (m << tileBits);
        double* there = x + (partner << tileBits);
        for (std::size_t h = 0; h < tile; ++h)
            std::memcpy(a + h * tile, here + h * rowStride, sizeof(double) * tile);
        for (std::size_t h = 0; h < tile; ++h)
            std::memcpy(b + h * tile, there + h * rowStride, sizeof(double) * tile);
        for (std::size_t h = 0; h < tile; ++h)
            for (std::size_t l = 0; l < tile; ++l)
                here[h * rowStride + l] = b[reversedLow[l] * tile + reversedLow[h]];
        if (partner != m)
            for (std::size_t h = 0; h < tile; ++h)
                for (std::size_t l = 0; l < tile; ++l)
                    there[h * rowStride + l] = a[reversedLow[l] * tile + reversedLow[h]];
    }
}

// The butterfly kernels below work on eight values at a time (dsp/VectorLanes.h).

// One butterfly, in the order of the per-butterfly form: t = w·o, o' = e − t, e' = e + t.
template <typename T>
inline void butterfly(T& er, T& ei, T& orr, T& oi, T c, T s) {
    const T tr = c * orr - s * oi;
    const T ti = s * orr + c * oi;
    orr = er - tr;
    oi = ei - ti;
    er = er + tr;
    ei = ei + ti;
}

// One stage of length len over `count` values (a multiple of len). Only the order in which the
// butterflies run differs from the per-butterfly form, which cannot change any result.
QV_VECTOR_CLONES
void runStage(double* re, double* im, std::size_t count, std::size_t len, const double* cosine,
              const double* sine) {
    const std::size_t half = len / 2;
    for (std::size_t block = 0; block < count; block += len) {
        double* er = re + block;
        double* ei = im + block;
        double* odr = er + half;
        double* odi = ei + half;
        if (half % lanes != 0) {
            for (std::size_t k = 0; k < half; ++k)
                butterfly(er[k], ei[k], odr[k], odi[k], cosine[k], sine[k]);
            continue;
        }
        for (std::size_t k = 0; k < half; k += lanes) {
            Lanes xr = load(er + k), xi = load(ei + k), yr = load(odr + k), yi = load(odi + k);
            butterfly(xr, xi, yr, yi, load(cosine + k), load(sine + k));
            store(er + k, xr);
            store(ei + k, xi);
            store(odr + k, yr);
            store(odi + k, yi);
        }
    }
}

// Two consecutive stages, len and 2·len, in one pass: for each k the four values that the two stages
// combine are loaded once. Needs len/2 to be a multiple of the lane count.
QV_VECTOR_CLONES
void runStagePair(double* re, double* im, std::size_t count, std::size_t len, const double* c1,
                  const double* s1, const double* c2, const double* s2) {
    const std::size_t quarter = len / 2;
    for (std::size_t block = 0; block < count; block += 2 * len) {
        double* r = re + block;
        double* i = im + block;
        for (std::size_t k = 0; k < quarter; k += lanes) {
            Lanes r0 = load(r + k), r1 = load(r + k + quarter), r2 = load(r + k + len),
                  r3 = load(r + k + len + quarter);
            Lanes i0 = load(i + k), i1 = load(i + k + quarter), i2 = load(i + k + len),
                  i3 = load(i + k + len + quarter);
            const Lanes ca = load(c1 + k), sa = load(s1 + k);
            butterfly(r0, i0, r1, i1, ca, sa);
            butterfly(r2, i2, r3, i3, ca, sa);
            butterfly(r0, i0, r2, i2, load(c2 + k), load(s2 + k));
            butterfly(r1, i1, r3, i3, load(c2 + k + quarter), load(s2 + k + quarter));
            store(r + k, r0);
            store(r + k + quarter, r1);
            store(r + k + len, r2);
            store(r + k + len + quarter, r3);
            store(i + k, i0);
            store(i + k + quarter, i1);
            store(i + k + len, i2);
            store(i + k + len + quarter, i3);
        }
    }
}

// Stages of length 2 and 4 together, four values at a time. The twiddles are used as values (not
// assumed to be exactly 1 and 0) so that signed zeros and non-finite inputs come out as in the
// per-butterfly form.
void runFirstStages(double* re, double* im, std::size_t count, bool inverse) {
    const StageTable& two = stageTable(1, inverse);
    const double c0 = two.cosine[0], s0 = two.sine[0];
    if (count == 2) {
        butterfly(re[0], im[0], re[1], im[1], c0, s0);
        return;
    }
    const StageTable& four = stageTable(2, inverse);
    for (std::size_t b = 0; b < count; b += 4) {
        double r[4] = {re[b], re[b + 1], re[b + 2], re[b + 3]};
        double i[4] = {im[b], im[b + 1], im[b + 2], im[b + 3]};
        butterfly(r[0], i[0], r[1], i[1], c0, s0);
        butterfly(r[2], i[2], r[3], i[3], c0, s0);
        butterfly(r[0], i[0], r[2], i[2], four.cosine[0], four.sine[0]);
        butterfly(r[1], i[1], r[3], i[3], four.cosine[1], four.sine[1]);
        for (int m = 0; m < 4; ++m) {
            re[b + m] = r[m];
            im[b + m] = i[m];
        }
    }
}

// Values per block whose stages all run before the next block is touched: small enough to stay in the
// core's cache (re and im together 256 KiB).
constexpr std::size_t cacheBlock = std::size_t{1} << 14;

void stage(double* re, double* im, std::size_t count, unsigned log2Len, bool inverse) {
    const StageTable& table = stageTable(log2Len, inverse);
    runStage(re, im, count, std::size_t{1} << log2Len, table.cosine.data(), table.sine.data());
}

void stagePair(double* re, double* im, std::size_t count, unsigned log2Len, bool inverse) {
    const StageTable& first = stageTable(log2Len, inverse);
    const StageTable& second = stageTable(log2Len + 1, inverse);
    runStagePair(re, im, count, std::size_t{1} << log2Len, first.cosine.data(), first.sine.data(),
                 second.cosine.data(), second.sine.data());
}

// All butterfly stages of a bit-reversed block of n = 2^log2n values. Blocks larger than cacheBlock go
// depth first, so that every stage up to cacheBlock works on data already in cache.
void transformBlock(double* re, double* im, unsigned log2n, bool inverse) {
    const std::size_t n = std::size_t{1} << log2n;
    if (n <= cacheBlock) {
        runFirstStages(re, im, n, inverse);
        unsigned log2Len = 3;
        // Stage 8 has four butterflies per block: too few for the vector pair kernel.
        if (log2Len <= log2n) stage(re, im, n, log2Len++, inverse);
        for (; log2Len + 1 <= log2n; log2Len += 2) stagePair(re, im, n, log2Len, inverse);
        if (log2Len <= log2n) stage(re, im, n, log2Len, inverse);
        return;
    }
    if (n / 4 >= cacheBlock) {
        const std::size_t quarter = n / 4;
        for (int q = 0; q < 4; ++q) transformBlock(re + q * quarter, im + q * quarter, log2n - 2, inverse);
        stagePair(re, im, n, log2n - 1, inverse);
        return;
    }
    transformBlock(re, im, log2n - 1, inverse);
    transformBlock(re + n / 2, im + n / 2, log2n - 1, inverse);
    stage(re, im, n, log2n, inverse);
}

}  // namespace

namespace ComplexFFT {

Status transform(std::vector<double>& real, std::vector<double>& imag, bool inverse) {
    const std::size_t n = real.size();
    if (!isPowerOfTwo(n))
        return QuorvelError::make(
            31, "The FFT needs a power-of-two length; " + std::to_string(n) + " values were given.");
    if (!imag.empty() && imag.size() != n)
        return QuorvelError::make(31, "The FFT needs as many imaginary as real values; " +
                                          std::to_string(imag.size()) + " and " + std::to_string(n) +
                                          " were given.");
    imag.resize(n, 0.0);
    if (n == 1) return Status::success();
    const unsigned log2n = log2Of(n);
    bitReverse(real.data(), log2n);
    bitReverse(imag.data(), log2n);
    transformBlock(real.data(), imag.data(), log2n, inverse);
    if (inverse) {
        const double count = static_cast<double>(n);
        for (std::size_t i = 0; i < n; ++i) {
            real[i] /= count;
            imag[i] /= count;
        }
    }
    return Status::success();
}

}  // namespace ComplexFFT

}  // namespace quorvel
