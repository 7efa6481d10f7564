#pragma once
// An audio device as the interface picker offers it. A value; any thread.
#include <QString>
#include <cstdint>

namespace quorvel {

struct InterfaceOption {
    std::uint32_t id = 0;  // stable device id (never 0)
    QString name;          // the device's name, or "Audio device <id>" when it cannot be read
    QString system;        // the sound system it is reached through ("JACK", "PulseAudio", "ALSA", …)
    int inputChannels = 0;
    int outputChannels = 0;

    // What a menu shows: the name, then the sound system and the channel counts, since one device may be
    // listed by two systems under the same name (PipeWire serves both JACK and PulseAudio):
    // "qv-six · JACK · 6 in, 6 out". Just the name when the system is not known.
    QString label() const {
        if (system.isEmpty()) return name;
        return name + QStringLiteral(" \u00b7 ") + system + QStringLiteral(" \u00b7 ") +
               QString::number(inputChannels) + QStringLiteral(" in, ") + QString::number(outputChannels) +
               QStringLiteral(" out");
    }

    bool operator==(const InterfaceOption&) const = default;
};

}  // namespace quorvel
