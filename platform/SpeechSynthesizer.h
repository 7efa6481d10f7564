#pragma once
// Text to speech into sample buffers instead of a loudspeaker.
//
// SpeechSynthesizer is the small interface the voice renderer needs (a hand-written fake can stand in
// for it); EspeakSynthesizer is the real one over espeak-ng.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/AudioFile.h"
#include "platform/Result.h"

namespace quorvel {

// What to say and how.
struct SpeechUtterance {
    std::string text;                // UTF-8, spoken as plain text (no markup, no phoneme codes)
    double rate = 0.5;               // speaking speed, 0 (slowest) ... 1 (fastest); 0.5 is the normal speed
    std::string language = "en-US";  // BCP 47 tag of the voice's language
};

// One buffer of synthesised speech, valid only for the duration of the handler call.
struct SpeechBuffer {
    AudioFormat format;            // channel count and sample rate
    std::int64_t frameLength = 0;  // 0 only in the buffer that ends the utterance
    // One pointer per channel to frameLength 32-bit float samples; null when the synthesiser's samples
    // are of another kind.
    const float* const* floatChannelData = nullptr;
};

class SpeechSynthesizer {
public:
    // Takes each buffer in order; returning false ends the utterance there.
    using BufferHandler = std::function<bool(const SpeechBuffer&)>;

    virtual ~SpeechSynthesizer() = default;

    // Speaks the utterance on the calling thread, blocking until it is done. Every buffer of speech
    // has at least one frame; an utterance that runs to its end closes with exactly one buffer of zero
    // frames. A stopped utterance (handler returned false, or stopSpeaking()) gets no further buffer,
    // not even the closing one, and still succeeds. Fails, delivering nothing more, when the voice or
    // the synthesiser is unavailable. Any thread; writes from several threads run one at a time.
    virtual Status write(const SpeechUtterance& utterance, const BufferHandler& onBuffer) = 0;

    // Ends at once every write on this synthesiser that is running or waiting for its turn: no further
    // buffer reaches their handlers. Writes begun after the call run normally. Any thread.
    virtual void stopSpeaking() = 0;
};

// espeak-ng in its synchronous mode: mono 16-bit speech at the library's rate (22050 Hz), handed on
// as float (-1 ... 1). The library is one per process and not re-entrant, so every instance shares one
// lock and one write runs at a time in the whole process. (The library carries state from one
// utterance to the next, so the same text need not give the same samples twice in one process.)
//
// Rate: words per minute = 350 × rate, within espeak-ng's 80 ... 450; 0.5 gives its normal 175 and
// 0.43 a calm 150 or so. Language: the tag names the voice, case aside ("en-US" → voice "en-us").
class EspeakSynthesizer final : public SpeechSynthesizer {
public:
    EspeakSynthesizer() = default;

    Status write(const SpeechUtterance& utterance, const BufferHandler& onBuffer) override;
    void stopSpeaking() override;

    // Words per minute for a rate of 0 ... 1.
    static int wordsPerMinute(double rate);

private:
    // Raised by every stopSpeaking(); a write compares it with the value it saw when it was called.
    std::atomic<std::uint64_t> stops_{0};
};

}  // namespace quorvel
