#include "platform/SpeechSynthesizer.h"

#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>
#include <mutex>
#include <vector>

namespace quorvel {

namespace {

// espeak-ng keeps all its state in globals, its callback gets no pointer of ours, and it is not safe to
// enter from two threads: everything below is guarded by this one lock, held for a whole write.
std::mutex libraryLock;

struct Library {
    bool ready = false;
    int sampleRate = 0;
    std::string voice;  // the voice set last, to skip reloading it
};
Library library;  // guarded by libraryLock

// The write in progress. The callback runs inside espeak_Synth on the writing thread, which holds the lock.
struct ActiveWrite {
    const SpeechSynthesizer::BufferHandler* handler = nullptr;
    const std::atomic<std::uint64_t>* stops = nullptr;
    std::uint64_t stopsAtStart = 0;
    AudioFormat format;
    std::vector<float> samples;
    bool stopped = false;
    std::exception_ptr failure;  // thrown by the handler; must not unwind through the C library
};
ActiveWrite* active = nullptr;  // guarded by libraryLock

bool stopRequested(const ActiveWrite& w) {
    // Acquire pairs with the release in stopSpeaking(); only the flag itself is shared.
    return w.stops->load(std::memory_order_acquire) != w.stopsAtStart;
}

int onSynth(short* wav, int count, espeak_EVENT*) {
    ActiveWrite* w = active;
    if (!w || w->stopped) return 1;
    // Only a null buffer ends the utterance; the closing buffer is sent once espeak_Synth returns.
    if (!wav) return 0;
    if (stopRequested(*w)) {
        w->stopped = true;
        return 1;
    }
    // Empty buffers also arrive in mid-utterance: nothing to hand on.
    if (count <= 0) return 0;
    w->samples.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        w->samples[static_cast<std::size_t>(i)] = static_cast<float>(wav[i]) / 32768.0f;
    const float* channels[1] = {w->samples.data()};
    try {
        if (!(*w->handler)(SpeechBuffer{w->format, count, channels})) w->stopped = true;
    } catch (...) {
        w->failure = std::current_exception();
        w->stopped = true;
    }
    return w->stopped ? 1 : 0;
}

Error espeakError(int code, std::string description) {
    return Error{"espeak-ng", code, std::move(description)};
}

// Brings the library up once per process; a failed start is tried again at the next write.
Status ensureLibrary() {
    if (library.ready) return Status::success();
    const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (rate <= 0) return espeakError(EE_INTERNAL_ERROR, "The speech synthesiser could not start");
    espeak_SetSynthCallback(onSynth);
    library.ready = true;
    library.sampleRate = rate;
    library.voice.clear();
    return Status::success();
}

}  // namespace

int EspeakSynthesizer::wordsPerMinute(double rate) {
    if (!std::isfinite(rate)) rate = 0.5;
    const double wpm = std::round(350.0 * rate);
    return static_cast<int>(std::clamp(wpm, double(espeakRATE_MINIMUM), double(espeakRATE_MAXIMUM)));
}

void EspeakSynthesizer::stopSpeaking() { stops_.fetch_add(1, std::memory_order_release); }

Status EspeakSynthesizer::write(const SpeechUtterance& utterance, const BufferHandler& onBuffer) {
    ActiveWrite w;
    w.handler = &onBuffer;
    w.stops = &stops_;
    // Taken before waiting for the lock, so that a stop while this write waits its turn also ends it.
    w.stopsAtStart = stops_.load(std::memory_order_acquire);

    std::lock_guard lock(libraryLock);
    if (stopRequested(w)) return Status::success();
    if (Status started = ensureLibrary(); !started) return started;

    std::string voice = utterance.language;
    for (auto& c : voice) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (voice != library.voice) {
        const espeak_ERROR set = espeak_SetVoiceByName(voice.c_str());
        if (set != EE_OK) {
            library.voice.clear();
            return espeakError(set, "No speech voice for the language " + utterance.language);
        }
        library.voice = voice;
    }
    espeak_SetParameter(espeakRATE, wordsPerMinute(utterance.rate), 0);

    w.format = *AudioFormat::standard(library.sampleRate, 1);
    active = &w;
    const espeak_ERROR spoken = espeak_Synth(utterance.text.c_str(), utterance.text.size() + 1, 0,
                                             POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
    active = nullptr;
    if (w.failure) std::rethrow_exception(w.failure);
    if (w.stopped) return Status::success();
    if (spoken != EE_OK) return espeakError(spoken, "Speech synthesis failed");
    if (stopRequested(w)) return Status::success();

    const float* channels[1] = {w.samples.data()};
    onBuffer(SpeechBuffer{w.format, 0, channels});
    return Status::success();
}

}  // namespace quorvel
