#include "dsp/SignalRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "dsp/FilterPair.h"
#include "dsp/QuorvelError.h"
#include "platform/AudioFile.h"
#include "platform/TempFiles.h"

namespace quorvel {

namespace {
constexpr double twoPi = 2 * std::numbers::pi;

bool valuesUsable(const SignalSettings& s) {
    for (double v : {s.frequency, s.frequency2, s.balance, s.start, s.end, s.seconds, s.hp, s.lp})
        if (!std::isfinite(v)) return false;
    if (s.seconds <= 0) return false;
    if (s.filtered && !(s.lp > s.hp)) return false;
    return true;
}

// Phase advance by f Hz, wrapped into 0 ... 2π. The increment is below π (f <= 0.45 × rate), so one
// subtraction does what fmod would, and exactly (the operands are within a factor of two).
inline void advance(double& phase, double increment) {
    phase += increment;
    if (phase >= twoPi) phase -= twoPi;
}

// Envelope of the gated tones: linear ramps of `ramp` seconds up from the start of every second and
// down to `length` seconds into it, 0 for the rest of the second.
inline double gate(double t, double length, double ramp) {
    const double p = t - std::floor(t);
    return std::clamp(std::min(p / ramp, (length - p) / ramp), 0.0, 1.0);
}
}  // namespace

namespace SignalRenderer {
Result<std::string> make(const SignalSettings& settings, double sampleRate) {
    RandomSource random;
    return make(settings, sampleRate, random);
}

Result<std::string> make(const SignalSettings& s, double rate, RandomSource& random) {
    if (!valuesUsable(s))
        return QuorvelError::make(10, "Enter finite signal values and a low-pass frequency above high-pass.");
    if (!std::isfinite(rate) || rate < 8000 || rate > 192000)
        return QuorvelError::make(12, "Unsupported sample rate");

    const double top = std::min(0.45 * rate, 20000.0);
    const double duration = s.seconds < 1 ? 1.0 : std::min(s.seconds, 60.0);
    const auto frames = static_cast<std::int64_t>(rate * duration);
    const double f1 = std::clamp(s.frequency, 20.0, top);
    const double f2 = std::clamp(s.frequency2, 20.0, top);
    const double s0 = std::clamp(s.start, 20.0, top);
    const double s1 = std::clamp(s.end, 20.0, top);
    const double mix = std::clamp(s.balance, 0.0, 1.0);
    const FilterCorners corners = FilterCorners::derive(s.hp, s.lp, rate);

    const auto format = AudioFormat::standard(rate, 2);
    if (!format) return QuorvelError::make(12, "Unsupported sample rate");
    AudioBuffer buffer(*format, frames);
    buffer.setFrameLength(frames);
    float* out = buffer.channel(0);

    const double step1 = twoPi * f1 / rate;
    const double step2 = twoPi * f2 / rate;
    const double fadeFrames = 0.01 * rate;
    double phase = 0, phase2 = 0, brown = 0, peak = 0;
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
    FilterPair filter;

    for (std::int64_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        const double w = random.nextSigned();
        double x = 0;
        switch (s.kind) {
            case SignalKind::sine:
                advance(phase, step1);
                x = std::sin(phase);
                break;
            case SignalKind::dual:
                advance(phase, step1);
                advance(phase2, step2);
                x = (1 - mix) * std::sin(phase) + mix * std::sin(phase2);
                break;
            case SignalKind::sync:
                advance(phase, step1);
                x = gate(t, 0.08, 0.005) * std::sin(phase);
                break;
            case SignalKind::pulse:
                advance(phase, step1);
                x = gate(t, 0.5, 0.01) * std::sin(phase);
                break;
            case SignalKind::linearSweep:
                advance(phase, twoPi * (s0 + t * (s1 - s0) / duration) / rate);
                x = std::sin(phase);
                break;
            case SignalKind::logSweep:
                advance(phase, twoPi * (s0 * std::pow(s1 / s0, t / duration)) / rate);
                x = std::sin(phase);
                break;
            case SignalKind::white:
                x = w;
                break;
            case SignalKind::brown:
                brown = (brown + 0.02 * w) / 1.02;
                x = 3.5 * brown;
                break;
            case SignalKind::pink:
                // Paul Kellet's refined pink filter; b6 enters from the previous frame.
                b0 = 0.99886 * b0 + 0.0555179 * w;
                b1 = 0.99332 * b1 + 0.0750759 * w;
                b2 = 0.969 * b2 + 0.153852 * w;
                b3 = 0.8665 * b3 + 0.3104856 * w;
                b4 = 0.55 * b4 + 0.5329522 * w;
                b5 = -0.7616 * b5 - 0.016898 * w;
                x = (b0 + b1 + b2 + b3 + b4 + b5 + b6 + 0.5362 * w) * 0.11;
                b6 = 0.115926 * w;
                break;
        }
        if (s.filtered) x = filter.process(x, corners);
        const double edge = static_cast<double>(std::min(n, frames - 1 - n));
        const double y = std::clamp(edge / fadeFrames, 0.0, 1.0) * x;
        out[n] = static_cast<float>(y);
        peak = std::max(peak, std::abs(y));
    }

    const auto gain = static_cast<float>(peak >= 0.000001 ? 0.98 / peak : 980000.0);
    for (std::int64_t n = 0; n < frames; ++n) out[n] *= gain;
    std::memcpy(buffer.channel(1), out, static_cast<std::size_t>(frames) * sizeof(float));

    // Whatever fails after the file exists takes the file with it: the caller never learns its name.
    auto created = TempFiles::create("signal", "wav");
    if (!created) return created.error();
    const std::string path = std::move(created.value());
    auto writer = AudioFileWriter::create(path, *format);
    if (!writer.ok()) {
        TempFiles::removeQuietly(path);
        return writer.error();
    }
    Status status = writer->write(buffer);
    if (status.ok()) status = writer->close();
    if (!status.ok()) {
        TempFiles::removeQuietly(path);
        return status.error();
    }
    return path;
}
}  // namespace SignalRenderer

}  // namespace quorvel
