#pragma once
// The built-in, named generator settings.
#include <string>
#include <vector>

#include "dsp/SignalSettings.h"

namespace quorvel {

struct SignalPreset {
    std::string id;  // display name, also the identity
    SignalSettings settings;

    // The eleven presets in menu order. Built once on first use (safe if threads race), read-only after.
    static const std::vector<SignalPreset>& seeded();

    bool operator==(const SignalPreset&) const = default;
};

}  // namespace quorvel
