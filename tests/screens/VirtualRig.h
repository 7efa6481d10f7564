#pragma once
// A virtual audio interface for screen tests: "Interface" with two inputs, the reference (noise) on
// input 2 and the microphone hearing it 480 frames (10 ms at 48 kHz) later on input 1, chosen as the
// stored interface. Installed before any analyser is made; the test thread plays both the audio thread
// (pump) and the main thread (events).
#include <QString>
#include <memory>

#include "platform/VirtualAudioSystem.h"

namespace quorvel {

class MicAnalyzer;

class VirtualRig {
public:
    VirtualRig();

    VirtualAudioSystem& system() { return *system_; }
    std::uint32_t interfaceID() const;

    // Lets background analyses finish and runs the queued main-thread work.
    static void events();
    // Feeds `blocks` tap blocks through the running engines, handling events after each.
    void pump(int blocks);
    // Pumps until the analyser has a spectrum (and, in dual mode, a delay); false after `maxBlocks`.
    bool measure(MicAnalyzer& analyzer, int maxBlocks = 40);

private:
    std::shared_ptr<VirtualAudioSystem> system_;
};

}  // namespace quorvel
