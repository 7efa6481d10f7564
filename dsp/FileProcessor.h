#pragma once
// Offline processing of a reference file before playback: channel treatment, an optional first-order
// high-pass and low-pass pair, optional RMS level matching with a peak ceiling. The result is a new
// two-channel 32-bit float CAF file "reference-<UUID>.caf" in the temporary folder, at the input's
// rate and with its length in frames; the input is never changed.
//
// Stateless; any thread, several at once. Memory stays bounded: the input streams through in blocks
// of 8192 frames, twice with RMS matching (measure, then write) and once without.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Result.h"

namespace quorvel {

struct AudioFormat;

// The raw value is the display label of the player's "Channels" picker. L is the input's first
// channel, R its second (the first again for a mono input).
enum class StereoMode : std::uint8_t {
    stereo,       // "Stereo":       L, R
    mono,         // "Mono":         (L + R) / 2 on both
    left,         // "Left only":    L, silence
    right,        // "Right only":   silence, R
    swap,         // "Swap L/R":     R, L
    invertRight,  // "Invert right": L, −R
};

inline constexpr std::array<StereoMode, 6> allStereoModes = {StereoMode::stereo, StereoMode::mono,
                                                             StereoMode::left,   StereoMode::right,
                                                             StereoMode::swap,   StereoMode::invertRight};

std::string_view rawValue(StereoMode mode);
// The mode whose raw value is exactly this text; none for any other text.
std::optional<StereoMode> stereoModeFromRawValue(std::string_view text);

struct FileProcessSettings {
    StereoMode mode = StereoMode::stereo;
    bool matchRMS = false;  // scale the whole file to targetDB RMS (pooled over both output channels)
    double targetDB = -20;  // dBFS; acts as -6 when above it and as -40 when below it
    bool filtered = false;  // apply the high-pass and low-pass pair
    double hp = 20;         // Hz
    double lp = 20000;      // Hz

    bool operator==(const FileProcessSettings&) const = default;
};

namespace FileProcessor {
// Asked between blocks (from the rendering thread); true abandons the render.
using Cancelled = std::function<bool()>;

// The error of an abandoned render.
inline constexpr long cancelledCode = 125;  // ECANCELED

// Whether render() takes an input of this format: fails with Quorvel code 2 for more than two channels
// (or a rate no output format has), with render()'s message.
Status accepts(const AudioFormat& input);

// Returns the new file's path; the caller owns the file and deletes it.
// Fails with Quorvel code 11 for non-finite targetDB, hp or lp, or filtered with lp <= hp (decided
// before the input is touched); code 2 for an input of more than two channels; with the file layer's
// error (opening, reading, writing; data cut short before the input's stated length is a read failure);
// or, once `cancelled` says so, with ("posix", cancelledCode). Once the output exists, any failure
// removes it. Non-finite input samples are processed as 0.
Result<std::string> render(const std::string& input, const FileProcessSettings& settings,
                           const Cancelled& cancelled = {});
}  // namespace FileProcessor

}  // namespace quorvel
