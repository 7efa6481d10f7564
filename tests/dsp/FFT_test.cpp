#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "TextbookFFT.h"
#include "dsp/MeasurementDSP.h"
#include "dsp/RealFFT.h"

namespace quorvel {

namespace {

std::vector<double> noise(std::size_t n, unsigned seed) {
    std::mt19937_64 engine(seed);
    std::normal_distribution<double> normal(0.0, 0.3);
    std::vector<double> v(n);
    for (auto& x : v) x = normal(engine);
    return v;
}

// Index of the first value whose bits differ, or -1. NaNs count as equal to each other: which
// operand's payload an instruction passes on may change with the compiler's operand order.
long firstBitDifference(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::isnan(a[i]) && std::isnan(b[i])) continue;
        if (std::memcmp(&a[i], &b[i], sizeof(double)) != 0) return static_cast<long>(i);
    }
    return -1;
}

void expectSameBits(std::vector<double> re, std::vector<double> im, bool inverse) {
    std::vector<double> oursRe = re, oursIm = im;
    ASSERT_TRUE(MeasurementDSP::fft(oursRe, oursIm, inverse).ok());
    ASSERT_TRUE(TextbookFFT::transform(re, im, inverse).ok());
    const long r = firstBitDifference(oursRe, re), i = firstBitDifference(oursIm, im);
    EXPECT_EQ(r, -1) << "N " << re.size() << " real part " << r << ": " << oursRe[std::max(r, 0L)] << " vs "
                     << re[std::max(r, 0L)];
    EXPECT_EQ(i, -1) << "N " << re.size() << " imaginary part " << i;
}

}  // namespace

// The fast transform must reproduce the per-butterfly form exactly, in both directions, at every size
// that exercises a different path (scalar first stages, vector pairs, cache blocks, tiled reversal).
TEST(FFT, BitIdenticalToPerButterflyForm) {
    for (std::size_t n : {1u, 2u, 4u, 8u, 16u, 32u, 256u, 4096u, 16384u, 32768u, 65536u, 262144u}) {
        SCOPED_TRACE(n);
        expectSameBits(noise(n, 1), noise(n, 2), false);
        expectSameBits(noise(n, 3), noise(n, 4), true);
    }
}

// Zero padding and signed zeros must travel through the butterflies exactly as in the plain form; a
// shortcut that treats the first twiddle as exactly 1 + 0i would change the sign of some zeros.
TEST(FFT, BitIdenticalWithZerosAndSpecialValues) {
    std::vector<double> re = noise(4096, 5), im(4096, 0.0);
    std::fill(re.begin() + 1000, re.end(), 0.0);
    for (std::size_t i = 0; i < 64; ++i) re[2000 + i] = -0.0;
    expectSameBits(re, im, false);
    expectSameBits(re, std::vector<double>(4096, -0.0), true);
    std::vector<double> special(64, 0.0);
    special[3] = std::numeric_limits<double>::infinity();
    special[9] = std::numeric_limits<double>::quiet_NaN();
    expectSameBits(special, std::vector<double>(64, -0.0), false);
}

TEST(FFT, SmallCasesAndKnownTransforms) {
    std::vector<double> one{0.75}, oneIm;
    ASSERT_TRUE(MeasurementDSP::fft(one, oneIm).ok());
    EXPECT_EQ(one, std::vector<double>{0.75});
    EXPECT_EQ(oneIm, std::vector<double>{0.0});  // absent imaginary part stands for zeros

    // An impulse at n0 transforms to e^(−2πi·k·n0/N): unit magnitude everywhere.
    const std::size_t n = 1024, n0 = 3;
    std::vector<double> re(n, 0.0), im;
    re[n0] = 1.0;
    ASSERT_TRUE(MeasurementDSP::fft(re, im).ok());
    for (std::size_t k = 0; k < n; ++k) {
        const double angle = -2.0 * M_PI * static_cast<double>(k * n0 % n) / static_cast<double>(n);
        EXPECT_NEAR(re[k], std::cos(angle), 1e-12);
        EXPECT_NEAR(im[k], std::sin(angle), 1e-12);
    }
}

TEST(FFT, InverseRestoresInput) {
    for (std::size_t n : {2u, 4096u, 262144u}) {
        const std::vector<double> inRe = noise(n, 6), inIm = noise(n, 7);
        std::vector<double> re = inRe, im = inIm;
        ASSERT_TRUE(MeasurementDSP::fft(re, im, false).ok());
        ASSERT_TRUE(MeasurementDSP::fft(re, im, true).ok());
        double worst = 0;
        for (std::size_t i = 0; i < n; ++i)
            worst = std::max({worst, std::fabs(re[i] - inRe[i]), std::fabs(im[i] - inIm[i])});
        // Rounding grows with log2 N; inputs of size ~1 stay far inside 1e−12.
        EXPECT_LT(worst, 1e-12) << n;
    }
}

// The analysis transform of real data: every bin as the complex transform gives it, to rounding of the
// largest bin, at lengths with an odd and an even count of stages, inside and beyond one cache block; and
// the inverse brings the signal back.
TEST(FFT, RealTransformMatchesComplexTransform) {
    for (std::size_t n : {256u, 512u, 32768u, 262144u}) {
        SCOPED_TRACE(n);
        const RealFFT transform(n);
        const std::vector<double> x = noise(n, 8);
        std::vector<double> re(n / 2), im(n / 2), textRe = x, textIm;
        for (std::size_t j = 0; j < n / 2; ++j) re[j] = x[2 * j], im[j] = x[2 * j + 1];
        transform.forward(re.data(), im.data());
        ASSERT_TRUE(TextbookFFT::transform(textRe, textIm, false).ok());
        double largest = 0;
        for (double v : textRe) largest = std::max(largest, std::fabs(v));
        EXPECT_NEAR(re[0], textRe[0], 1e-13 * largest);
        EXPECT_NEAR(im[0], textRe[n / 2], 1e-13 * largest);
        for (std::size_t k = 1; k < n / 2; ++k) {
            const std::size_t p = transform.position(k);
            ASSERT_NEAR(re[p], textRe[k], 1e-13 * largest) << k;
            ASSERT_NEAR(im[p], textIm[k], 1e-13 * largest) << k;
        }
        transform.inverse(re.data(), im.data());
        for (std::size_t j = 0; j < n / 2; ++j) {
            ASSERT_NEAR(re[j], x[2 * j], 1e-13) << j;
            ASSERT_NEAR(im[j], x[2 * j + 1], 1e-13) << j;
        }
    }
}

TEST(FFT, RefusesBadLengthsAndLeavesArraysAlone) {
    for (std::size_t n : {0u, 3u, 12u, 4095u}) {
        std::vector<double> re(n, 1.0), im;
        const Status status = MeasurementDSP::fft(re, im);
        ASSERT_FALSE(status.ok()) << n;
        EXPECT_EQ(status.error().domain, "Quorvel");
        EXPECT_NE(status.error().description.find("power-of-two"), std::string::npos);
        EXPECT_EQ(re, std::vector<double>(n, 1.0));
        EXPECT_TRUE(im.empty());
    }
    std::vector<double> re(8, 1.0), im(4, 0.0);
    EXPECT_FALSE(MeasurementDSP::fft(re, im).ok());
    EXPECT_EQ(im.size(), 4u);
}

}  // namespace quorvel
