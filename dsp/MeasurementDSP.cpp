#include "dsp/MeasurementDSP.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <tuple>
#include <utility>

#include "dsp/QuorvelError.h"

namespace quorvel {

namespace {

bool isPowerOfTwo(std::size_t n) { return n != 0 && (n & (n - 1)) == 0; }

unsigned log2Of(std::size_t n) {
    unsigned bits = 0;
    while ((std::size_t{1} << bits) < n) ++bits;
    return bits;
}

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

std::size_t reverseBits(std::size_t value, unsigned bits) {
    std::size_t reversed = 0;
    for (unsigned i = 0; i < bits; ++i, value >>= 1) reversed = (reversed << 1) | (value & 1);
    return reversed;
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

// The butterfly kernels below work on eight values at a time with the compiler's vector extension;
// each lane does exactly the scalar operations (dsp/ builds with -ffp-contract=off, so no fused
// multiply-add can creep in). They are compiled for AVX-512, AVX2 and the baseline, chosen at load time.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QV_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define QV_VECTOR_CLONES
#endif

// The helpers taking and returning vectors have internal linkage, so the calling convention that GCC
// warns about never meets code compiled elsewhere.
#pragma GCC diagnostic ignored "-Wpsabi"

constexpr std::size_t lanes = 8;
using Lanes = double __attribute__((vector_size(lanes * sizeof(double))));

inline Lanes load(const double* p) {
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store(double* p, Lanes v) { std::memcpy(p, &v, sizeof v); }

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

// Hann window with the symmetric denominator 4095, built once.
const std::vector<double>& hannWindow4096() {
    static const std::vector<double> window = [] {
        std::vector<double> w(4096);
        for (std::size_t i = 0; i < w.size(); ++i)
            w[i] = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / 4095.0);
        return w;
    }();
    return window;
}

constexpr std::size_t spectrumLength = 4096;
constexpr std::size_t minimumReferenceLength = 16384;
constexpr double clipLevel = 0.999;
// 20·log10(1e−9): the level of silence.
const double floorDB = 20.0 * std::log10(1e-9);

}  // namespace

namespace MeasurementDSP {

Status fft(std::vector<double>& real, std::vector<double>& imag, bool inverse) {
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

// The correlation's transform and arrays, for one padded length.
struct Workspace::Correlation {
    explicit Correlation(std::size_t nfft)
        : transform(nfft), aRe(nfft / 2), aIm(nfft / 2), bRe(nfft / 2), bIm(nfft / 2) {}
    RealFFT transform;
    std::vector<double> aRe, aIm, bRe, bIm;
};

Workspace::Workspace() : spectrumRe_(spectrumLength), spectrumIm_(spectrumLength) {}
Workspace::~Workspace() = default;

AnalysisResult analyze(std::span<const double> mic, std::optional<std::span<const double>> reference,
                       double rate) {
    Workspace workspace;
    return analyze(workspace, mic, reference, rate);
}

AnalysisResult analyze(Workspace& w, std::span<const double> mic,
                       std::optional<std::span<const double>> reference, double rate) {
    AnalysisResult result;
    const std::size_t n = mic.size();
    if (n < spectrumLength || !(rate > 0) || !std::isfinite(rate)) return result;

    // The spectrum keeps the complex transform: levels far below the strongest bin (down to the −180 dB
    // floor) are only reproduced exactly by the same arithmetic, and at 4096 points it costs little.
    {
        const std::vector<double>& window = hannWindow4096();
        const std::span<const double> block = mic.last(spectrumLength);
        std::vector<double>& re = w.spectrumRe_;
        std::vector<double>& im = w.spectrumIm_;
        double windowSum = 0;
        bool finite = true;
        for (std::size_t i = 0; i < spectrumLength; ++i) {
            if (!std::isfinite(block[i])) finite = false;
            re[i] = block[i] * window[i];
            im[i] = 0;
            windowSum += window[i];
        }
        if (finite) (void)fft(re, im, false);
        const double scale = 2.0 / windowSum;
        result.spectrum.reserve(spectrumLength / 2 - 1);
        for (std::size_t k = 1; k < spectrumLength / 2; ++k) {
            const double hz = rate * static_cast<double>(k) / static_cast<double>(spectrumLength);
            const double db =
                finite ? 20.0 * std::log10(std::max(scale * std::hypot(re[k], im[k]), 1e-9)) : floorDB;
            result.spectrum.push_back(SpectrumPoint{static_cast<int>(k), hz, db});
        }
    }
    if (!reference || n < minimumReferenceLength || reference->size() != n) return result;
    const std::span<const double> ref = *reference;

    bool clipped = false;
    double micSum = 0, refSum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        // A non-finite sample leaves nothing to correlate: no delay and correlation 0.
        if (!std::isfinite(mic[i]) || !std::isfinite(ref[i])) return result;
        if (std::fabs(mic[i]) >= clipLevel || std::fabs(ref[i]) >= clipLevel) clipped = true;
        micSum += mic[i];
        refSum += ref[i];
    }
    const double micMean = micSum / static_cast<double>(n);
    const double refMean = refSum / static_cast<double>(n);

    std::size_t nfft = 1;
    while (nfft < 2 * n) nfft *= 2;
    if (!w.correlation_ || w.correlation_->transform.length() != nfft)
        w.correlation_ = std::make_unique<Workspace::Correlation>(nfft);
    Workspace::Correlation& c = *w.correlation_;
    // The padded signals, even samples in the real parts and odd in the imaginary parts.
    double *aRe = c.aRe.data(), *aIm = c.aIm.data(), *bRe = c.bRe.data(), *bIm = c.bIm.data();
    const std::size_t half = nfft / 2, pairs = n / 2;
    double micEnergy = 0, refEnergy = 0;
    auto take = [&](std::size_t i) {
        const double a = mic[i] - micMean, b = ref[i] - refMean;
        micEnergy += a * a;
        refEnergy += b * b;
        return std::pair{a, b};
    };
    for (std::size_t j = 0; j < pairs; ++j) {
        std::tie(aRe[j], bRe[j]) = take(2 * j);
        std::tie(aIm[j], bIm[j]) = take(2 * j + 1);
    }
    // The padding, after an odd N's last sample.
    std::size_t padded = pairs;
    if (n % 2 == 1) {
        std::tie(aRe[pairs], bRe[pairs]) = take(n - 1);
        aIm[pairs] = bIm[pairs] = 0;
        ++padded;
    }
    for (double* v : {aRe, aIm, bRe, bIm}) std::fill(v + padded, v + half, 0.0);
    const double norm = std::sqrt(micEnergy * refEnergy);
    if (!(norm > 1e-6) || !std::isfinite(norm)) return result;

    c.transform.forward(aRe, aIm, true);  // nfft ≥ 2N: the upper half is padding
    c.transform.forward(bRe, bIm, true);
    // P = A·conj(B), written over A; its inverse transform is r[l] = Σ a[n+l]·b[n]. Position 0 holds the
    // real bins 0 and nfft/2.
    aRe[0] *= bRe[0];
    aIm[0] *= bIm[0];
    for (std::size_t p = 1; p < half; ++p) {
        const double pr = aRe[p] * bRe[p] + aIm[p] * bIm[p];
        const double pi = aIm[p] * bRe[p] - aRe[p] * bIm[p];
        aRe[p] = pr;
        aIm[p] = pi;
    }
    c.transform.inverse(aRe, aIm);
    // Lag l sits at l/2 of the real parts when even, of the imaginary parts when odd.
    auto r = [&](std::size_t l) { return std::fabs(l % 2 == 0 ? aRe[l / 2] : aIm[l / 2]); };

    // Lags 0 … maxLag (at most 250 ms); compared in double first so that an absurd rate cannot overflow.
    const std::size_t maxLag =
        static_cast<std::size_t>(std::min(static_cast<double>(n / 3), std::floor(rate * 0.25)));
    std::size_t peak = 0;
    double peakValue = r(0);
    for (std::size_t l = 1; l <= maxLag; ++l) {
        const double here = r(l);
        if (here > peakValue) peak = l, peakValue = here;
    }
    const double exclusion = std::max(std::floor(rate * 0.001), 4.0);
    double second = 0;
    if (maxLag >= 3) {
        double before = r(0), here = r(1);
        for (std::size_t l = 1; l + 1 <= maxLag; ++l) {
            const double after = r(l + 1);
            const double distance = l > peak ? static_cast<double>(l - peak) : static_cast<double>(peak - l);
            if (distance > exclusion && before <= here && after < here) second = std::max(second, here);
            before = here, here = after;
        }
    }
    const double threshold = 1.25 * second;
    const double correlation = std::min(peakValue / norm, 1.0);
    if (!std::isfinite(correlation)) return result;
    result.correlation = correlation;
    const double delay = static_cast<double>(peak) * 1000.0 / rate;
    // A largest value on an end of the searched range is a true peak only if the lag just outside falls
    // below it: otherwise the real peak lies outside (a mic hearing the reference early, or a delay past
    // the range). Lag −1 sits at the end of the circular correlation, which the padding keeps clean.
    const double outside = peak == 0 ? r(nfft - 1) : 0.0;
    const double beyond = peak == maxLag ? r(maxLag + 1) : 0.0;
    const bool edge = outside >= peakValue || beyond >= peakValue;

    if (clipped || edge || !(correlation >= 0.25) || !(threshold < peakValue)) return result;
    TransferEstimate estimate = TransferDSP::estimate(w.transfer_, mic, ref, rate, delay);
    result.delayMS = delay;
    result.compensationMS = delay;
    result.transfer = std::move(estimate.bins);
    result.averages = estimate.averages;
    return result;
}

}  // namespace MeasurementDSP

}  // namespace quorvel
