#include "dsp/SignalSettings.h"

namespace quorvel {

namespace {
constexpr std::string_view kindNames[] = {"Dual tone",  "Sync beep",    "Sine",
                                          "Pink noise", "White noise",  "Brown noise",
                                          "Log sweep",  "Linear sweep", "Pulsed tone"};
}

std::string_view rawValue(SignalKind kind) { return kindNames[static_cast<std::size_t>(kind)]; }

std::optional<SignalKind> signalKindFromRawValue(std::string_view text) {
    for (SignalKind kind : allSignalKinds)
        if (rawValue(kind) == text) return kind;
    return std::nullopt;
}

}  // namespace quorvel
