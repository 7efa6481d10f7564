#include "platform/Uuid.h"

#include <mutex>
#include <random>

namespace quorvel {

Uuid Uuid::generate() {
    // One engine for the process, seeded from the system's entropy source; identities need not be
    // reproducible, so this is not injectable.
    static std::mutex mutex;
    static std::mt19937_64 engine{std::random_device{}()};
    std::array<std::uint8_t, 16> b{};
    {
        std::lock_guard lock(mutex);
        for (int i = 0; i < 2; ++i) {
            std::uint64_t v = engine();
            for (int j = 0; j < 8; ++j) b[i * 8 + j] = static_cast<std::uint8_t>(v >> (8 * j));
        }
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return Uuid(b);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::array<std::uint8_t, 16> b{};
    int nibble = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return std::nullopt;
            continue;
        }
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            return std::nullopt;
        b[nibble / 2] = static_cast<std::uint8_t>(b[nibble / 2] | (nibble % 2 == 0 ? v << 4 : v));
        ++nibble;
    }
    return Uuid(b);
}

std::string Uuid::toString() const {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        out.push_back(hex[bytes_[i] >> 4]);
        out.push_back(hex[bytes_[i] & 0xF]);
    }
    return out;
}

}  // namespace quorvel
