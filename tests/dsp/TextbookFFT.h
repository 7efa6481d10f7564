#pragma once
// The plain radix-2 FFT that ComplexFFT::transform must reproduce bit for bit.
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "platform/Result.h"

namespace quorvel {

namespace TextbookFFT {

inline Status transform(std::vector<double>& re, std::vector<double>& im, bool inverse) {
    const std::size_t n = re.size();
    if (im.empty()) im.assign(n, 0.0);
    if (n <= 1) return Status::success();
    std::size_t j = 0;
    for (std::size_t i = 1; i < n; ++i) {
        std::size_t bit = n >> 1;
        while (j & bit) {
            j &= ~bit;
            bit >>= 1;
        }
        j |= bit;
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    for (std::size_t len = 2; len <= n; len *= 2) {
        const double theta = (inverse ? 2.0 : -2.0) * M_PI / static_cast<double>(len);
        for (std::size_t s = 0; s < n; s += len) {
            for (std::size_t k = 0; k < len / 2; ++k) {
                const double c = std::cos(theta * static_cast<double>(k));
                const double sn = std::sin(theta * static_cast<double>(k));
                const std::size_t e = s + k, o = s + k + len / 2;
                const double tr = c * re[o] - sn * im[o];
                const double ti = sn * re[o] + c * im[o];
                re[o] = re[e] - tr;
                im[o] = im[e] - ti;
                re[e] = re[e] + tr;
                im[e] = im[e] + ti;
            }
        }
    }
    if (inverse) {
        for (std::size_t i = 0; i < n; ++i) {
            re[i] /= static_cast<double>(n);
            im[i] /= static_cast<double>(n);
        }
    }
    return Status::success();
}

}  // namespace TextbookFFT

}  // namespace quorvel
