#pragma once
// A 128-bit random (version 4) UUID. Text form: 36 characters, upper-case hex, groups 8-4-4-4-12.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

class Uuid {
public:
    Uuid() = default;  // the nil UUID (all zero)
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    // A fresh random UUID; any thread.
    static Uuid generate();
    // Parses the 36-character form (hex digits of either case); nullopt for anything else.
    static std::optional<Uuid> parse(std::string_view text);

    std::string toString() const;  // upper-case canonical form
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

    auto operator<=>(const Uuid&) const = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace quorvel
