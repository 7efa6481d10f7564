#pragma once
// Known test signals for the analysis tests.
#include <algorithm>
#include <complex>
#include <random>
#include <vector>

namespace quorvel {

namespace DspSignals {

// Gaussian noise, standard deviation `sigma`, clipped to ±0.9 so that no sample reads as clipping.
inline std::vector<double> noise(std::size_t n, unsigned seed, double sigma = 0.2) {
    std::mt19937_64 engine(seed);
    std::normal_distribution<double> normal(0.0, sigma);
    std::vector<double> v(n);
    for (auto& x : v) x = std::clamp(normal(engine), -0.9, 0.9);
    return v;
}

// x delayed by `samples` (zeros shifted in).
inline std::vector<double> delayed(const std::vector<double>& x, std::size_t samples) {
    std::vector<double> y(x.size(), 0.0);
    for (std::size_t i = samples; i < x.size(); ++i) y[i] = x[i - samples];
    return y;
}

// y[n] = Σ h[m]·x[n−m]; its exact response is Σ h[m]·e^(−iωm).
inline std::vector<double> fir(const std::vector<double>& x, const std::vector<double>& h) {
    std::vector<double> y(x.size(), 0.0);
    for (std::size_t n = 0; n < x.size(); ++n)
        for (std::size_t m = 0; m < h.size() && m <= n; ++m) y[n] += h[m] * x[n - m];
    return y;
}
inline std::complex<double> firResponse(const std::vector<double>& h, double omega) {
    std::complex<double> sum = 0;
    for (std::size_t m = 0; m < h.size(); ++m) sum += h[m] * std::polar(1.0, -omega * static_cast<double>(m));
    return sum;
}

// y[n] = b·x[n] + a·y[n−1]; its exact response is b / (1 − a·e^(−iω)).
inline std::vector<double> onePole(const std::vector<double>& x, double b, double a) {
    std::vector<double> y(x.size());
    double previous = 0;
    for (std::size_t n = 0; n < x.size(); ++n) previous = y[n] = b * x[n] + a * previous;
    return y;
}

}  // namespace DspSignals

}  // namespace quorvel
