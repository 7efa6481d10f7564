#pragma once
// The process's one audio system, through which every engine object finds devices and makes its audio
// engines. The product uses LinuxAudioSystem over JACK, PulseAudio and ALSA; tests install a
// VirtualAudioSystem (or a LinuxAudioSystem limited to their JACK server) before they create model objects.
//
// Threads: main thread only.
#include <memory>

#include "platform/AudioDevices.h"

namespace quorvel {

namespace AudioHardware {

// The current system, made on first use.
AudioSystem& system();

// Replaces the system and returns the previous one (null if none was made yet). Engines made by the old
// system keep using it, so the caller keeps it alive while they exist.
std::shared_ptr<AudioSystem> install(std::shared_ptr<AudioSystem> system);

}  // namespace AudioHardware

}  // namespace quorvel
