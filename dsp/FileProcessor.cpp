#include "dsp/FileProcessor.h"

#include <algorithm>
#include <cmath>

#include "dsp/FilterPair.h"
#include "dsp/QuorvelError.h"
#include "platform/AudioFile.h"
#include "platform/Log.h"
#include "platform/TempFiles.h"

namespace quorvel {

namespace {
constexpr std::string_view modeNames[] = {"Stereo",     "Mono",     "Left only",
                                          "Right only", "Swap L/R", "Invert right"};
constexpr std::int64_t blockFrames = 8192;

// Channel treatment and filters of one block, from `in` (one or two channels) into the two-channel
// `out`, whose frame length becomes the input's.
void processBlock(const AudioBuffer& in, AudioBuffer& out, const FileProcessSettings& settings,
                  const FilterCorners& corners, FilterPair (&filters)[2]) {
    const std::int64_t frames = in.frameLength();
    const float* inL = in.channel(0);
    const float* inR = in.channelCount() > 1 ? in.channel(1) : inL;
    float* outL = out.channel(0);
    float* outR = out.channel(1);
    for (std::int64_t i = 0; i < frames; ++i) {
        const double l = inL[i];
        const double r = inR[i];
        double a = 0, b = 0;
        switch (settings.mode) {
            case StereoMode::stereo:
                a = l;
                b = r;
                break;
            case StereoMode::mono:
                a = b = (l + r) / 2;
                break;
            case StereoMode::left:
                a = l;
                break;
            case StereoMode::right:
                b = r;
                break;
            case StereoMode::swap:
                a = r;
                b = l;
                break;
            case StereoMode::invertRight:
                a = l;
                b = -r;
                break;
        }
        if (settings.filtered) {
            a = filters[0].process(a, corners);
            b = filters[1].process(b, corners);
        }
        outL[i] = static_cast<float>(a);
        outR[i] = static_cast<float>(b);
    }
    out.setFrameLength(frames);
}

double gainFor(double sumSquares, double peak, std::int64_t count, double targetDB) {
    const double rms = std::sqrt(sumSquares / static_cast<double>(std::max<std::int64_t>(count, 1)));
    if (rms <= 1e-9) return 1;
    const double target = targetDB < -40 ? 0.01 : std::pow(10.0, std::min(targetDB, -6.0) / 20);
    return std::min(target / rms, 0.98 / peak);
}
}  // namespace

std::string_view rawValue(StereoMode mode) { return modeNames[static_cast<std::size_t>(mode)]; }

std::optional<StereoMode> stereoModeFromRawValue(std::string_view text) {
    for (StereoMode mode : allStereoModes)
        if (rawValue(mode) == text) return mode;
    return std::nullopt;
}

namespace FileProcessor {
Status accepts(const AudioFormat& input) {
    if (input.channelCount > 2 || !AudioFormat::standard(input.sampleRate, 2))
        return QuorvelError::make(2, "Reference player supports mono/stereo files");
    return {};
}

Result<std::string> render(const std::string& input, const FileProcessSettings& settings,
                           const Cancelled& cancelled) {
    if (!std::isfinite(settings.targetDB) || !std::isfinite(settings.hp) || !std::isfinite(settings.lp) ||
        (settings.filtered && !(settings.lp > settings.hp)))
        return QuorvelError::make(11, "Invalid filter or level values");

    auto opened = AudioFileReader::open(input);
    if (!opened.ok()) return opened.error();
    AudioFileReader& reader = *opened;
    const AudioFormat inFormat = reader.processingFormat();
    if (Status taken = accepts(inFormat); !taken) return taken.error();
    const auto outFormat = AudioFormat::standard(inFormat.sampleRate, 2);

    auto created = TempFiles::create("reference", "caf");
    if (!created) return created.error();
    const std::string path = std::move(created.value());
    // From here on a failure removes whatever exists at the output path.
    auto fail = [&path](const Error& error) -> Result<std::string> {
        TempFiles::removeQuietly(path);
        return error;
    };
    // Reads the next block: false at the end of the data or on a failure (then in `failure`). A long
    // file takes many seconds; a cancel is honoured within one block.
    std::optional<Error> failure;
    auto next = [&](AudioBuffer& in) {
        if (cancelled && cancelled()) {
            failure = Error{"posix", cancelledCode, "The render was cancelled"};
            return false;
        }
        if (Status s = reader.read(in, blockFrames); !s.ok()) {
            failure = s.error();
            return false;
        }
        return in.frameLength() > 0;
    };

    AudioBuffer in(inFormat, blockFrames);
    AudioBuffer out(*outFormat, blockFrames);
    const FilterCorners corners = FilterCorners::derive(settings.hp, settings.lp, inFormat.sampleRate);

    float gain = 1;
    if (settings.matchRMS) {
        FilterPair filters[2];
        double sumSquares = 0, peak = 0;
        std::int64_t count = 0;
        while (next(in)) {
            processBlock(in, out, settings, corners, filters);
            for (int c = 0; c < 2; ++c) {
                const float* samples = out.channel(c);
                for (std::int64_t i = 0; i < out.frameLength(); ++i) {
                    const double v = samples[i];
                    sumSquares += v * v;
                    peak = std::max(peak, std::abs(v));
                }
            }
            count += 2 * out.frameLength();
        }
        if (failure) return fail(*failure);
        gain = static_cast<float>(gainFor(sumSquares, peak, count, settings.targetDB));
    }
    reader.setFramePosition(0);
    const std::int64_t nonFiniteBefore = reader.nonFiniteSamples();  // the measuring pass saw them too

    auto writer = AudioFileWriter::create(path, *outFormat);
    if (!writer.ok()) return fail(writer.error());
    FilterPair filters[2];
    while (next(in)) {
        processBlock(in, out, settings, corners, filters);
        if (gain != 1) {
            for (int c = 0; c < 2; ++c) {
                float* samples = out.channel(c);
                for (std::int64_t i = 0; i < out.frameLength(); ++i) samples[i] *= gain;
            }
        }
        if (Status s = writer->write(out); !s.ok()) return fail(s.error());
    }
    if (failure) return fail(*failure);
    if (Status s = writer->close(); !s.ok()) return fail(s.error());
    if (const std::int64_t bad = reader.nonFiniteSamples() - nonFiniteBefore; bad > 0)
        Log::warning(Log::Area::audio,
                     std::to_string(bad) + " non-finite samples of " + input + " read as 0");
    return path;
}
}  // namespace FileProcessor

}  // namespace quorvel
