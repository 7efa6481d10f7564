#pragma once
// What the test-signal generator makes: the nine kinds and one setting. Values; any thread.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvel {

// The raw value of each kind is its display label, the text status lines show and its stored form.
enum class SignalKind : std::uint8_t {
    dual,         // "Dual tone": two sines mixed by balance
    sync,         // "Sync beep": an 80 ms burst at the start of every second
    sine,         // "Sine"
    pink,         // "Pink noise"
    white,        // "White noise"
    brown,        // "Brown noise"
    logSweep,     // "Log sweep"
    linearSweep,  // "Linear sweep"
    pulse,        // "Pulsed tone": on for the first 0.5 s of every second
};

inline constexpr std::array<SignalKind, 9> allSignalKinds = {
    SignalKind::dual,  SignalKind::sync,     SignalKind::sine,        SignalKind::pink, SignalKind::white,
    SignalKind::brown, SignalKind::logSweep, SignalKind::linearSweep, SignalKind::pulse};

std::string_view rawValue(SignalKind kind);
// The kind whose raw value is exactly this text (case-sensitive); none for any other text.
std::optional<SignalKind> signalKindFromRawValue(std::string_view text);

// One generator setting. Nothing is checked on assignment: the renderer refuses non-finite values,
// seconds <= 0 and a filtered setting whose low-pass is not above its high-pass, and clamps the rest.
// Build one field by name with designated initialisers: SignalSettings{.kind = SignalKind::sine}.
struct SignalSettings {
    SignalKind kind = SignalKind::pink;
    double frequency = 1000;   // Hz: sine, pulse, sync and the first tone of dual
    double frequency2 = 1200;  // Hz: the second tone of dual
    double balance = 0.5;      // 0 ... 1: share of the second tone in dual
    double start = 20;         // Hz: sweep start
    double end = 20000;        // Hz: sweep end
    double seconds = 10;       // s: the file's length and one sweep's duration
    double hp = 20;            // Hz: high-pass corner
    double lp = 20000;         // Hz: low-pass corner
    bool filtered = false;     // apply the high-pass and low-pass pair to any kind

    bool operator==(const SignalSettings&) const = default;
};

}  // namespace quorvel
