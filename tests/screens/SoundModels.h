#pragma once
// The four sound models of the window, made on a virtual audio device for screen tests: one device with
// four inputs and four outputs, each output looped back to the input of the same number, so a capture on
// the device hears what the player and the routed generator play. The device's clock is the player's
// clock and moves only when a test pumps it.
#include <memory>

#include "engine/AudioController.h"
#include "engine/MicAnalyzer.h"
#include "engine/RoutedSignal.h"
#include "engine/VoiceRenderer.h"
#include "platform/SpeechSynthesizer.h"
#include "platform/VirtualAudioSystem.h"

namespace quorvel {

struct SoundModels {
    static constexpr double rate = 48000;
    static constexpr std::int64_t period = 1024;

    // `speech` stands in for espeak-ng when given.
    explicit SoundModels(std::shared_ptr<SpeechSynthesizer> speech = nullptr);
    ~SoundModels();

    // Waits until neither the player nor the routed generator prepares; false when that never happens.
    [[nodiscard]] bool settle();
    // Moves the device on by one period and runs the player's tick, as its timer would.
    void step();

    std::shared_ptr<VirtualAudioSystem> system;
    std::unique_ptr<AudioController> audio;
    std::unique_ptr<RoutedSignal> routed;
    std::unique_ptr<VoiceRenderer> voice;
    std::unique_ptr<MicAnalyzer> analyzer;
};

}  // namespace quorvel
