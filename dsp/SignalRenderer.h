#pragma once
// Synthesises one test-signal setting into a new two-channel 32-bit float WAV file
// "signal-<UUID>.wav" in the temporary folder: one cycle of the signal (the players loop it), both
// channels identical, peak 0.98 of full scale, first and last frame 0 (10 ms fades).
//
// Stateless; any thread, several at once. The whole cycle (at most 60 s × 192000 frames × 2 channels)
// is held in memory and written in one call.
#include <string>

#include "dsp/RandomSource.h"
#include "dsp/SignalSettings.h"
#include "platform/Result.h"

namespace quorvel {

namespace SignalRenderer {
// Returns the new file's path; the caller owns the file and deletes it.
// Fails with Quorvel code 10 (non-finite values, seconds <= 0, filtered with lp <= hp; checked first)
// or code 12 (rate not within 8000 ... 192000 Hz), creating nothing; or with the file layer's error,
// leaving nothing behind. Finite out-of-range values are clamped, never refused.
Result<std::string> make(const SignalSettings& settings, double sampleRate = 48000);
// The same with the noise drawn from the given source (one value per frame, whatever the kind).
Result<std::string> make(const SignalSettings& settings, double sampleRate, RandomSource& random);
}  // namespace SignalRenderer

}  // namespace quorvel
