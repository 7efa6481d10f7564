#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "DspSignals.h"
#include "TextbookFFT.h"
#include "dsp/ComplexFFT.h"
#include "dsp/RealFFT.h"

namespace quorvel {

using DspSignals::noise;

namespace {

// Index of the first value whose bits differ, or -1; NaNs count as equal to each other.
long firstBitDifference(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!(std::isnan(a[i]) && std::isnan(b[i])) && std::memcmp(&a[i], &b[i], sizeof(double)) != 0)
            return static_cast<long>(i);
    return -1;
}

void expectSameBits(std::vector<double> re, std::vector<double> im, bool inverse) {
    std::vector<double> oursRe = re, oursIm = im;
    ASSERT_TRUE(ComplexFFT::transform(oursRe, oursIm, inverse).ok());
    ASSERT_TRUE(TextbookFFT::transform(re, im, inverse).ok());
    EXPECT_EQ(firstBitDifference(oursRe, re), -1) << "N " << re.size() << " real part";
    EXPECT_EQ(firstBitDifference(oursIm, im), -1) << "N " << re.size() << " imaginary part";
}

}  // namespace

// The fast transform reproduces the per-butterfly form exactly, both ways, at every path's size.
TEST(FFT, BitIdenticalToPerButterflyForm) {
    for (std::size_t n : {1u, 2u, 4u, 8u, 16u, 32u, 256u, 4096u, 16384u, 32768u, 65536u, 262144u}) {
        SCOPED_TRACE(n);
        expectSameBits(noise(n, 1, 0.3), noise(n, 2, 0.3), false);
        expectSameBits(noise(n, 3, 0.3), noise(n, 4, 0.3), true);
    }
}

// The real transform gives every bin as the complex one does, to rounding, and inverts back.
TEST(FFT, RealTransformMatchesComplexTransform) {
    for (std::size_t n : {256u, 512u, 32768u, 262144u}) {
        for (bool padded : {false, true}) {
            SCOPED_TRACE(std::to_string(n) + (padded ? " padded" : ""));
            const RealFFT transform(n);
            std::vector<double> x = noise(n, 8, 0.3);
            if (padded) std::fill(x.begin() + static_cast<long>(n / 2), x.end(), 0.0);
            std::vector<double> re(n / 2), im(n / 2), textRe = x, textIm;
            for (std::size_t j = 0; j < n / 2; ++j) re[j] = x[2 * j], im[j] = x[2 * j + 1];
            transform.forward(re.data(), im.data(), padded);
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
}

}  // namespace quorvel
