#include "platform/DeviceIds.h"

#include <unordered_set>

namespace quorvel {

namespace DeviceIds {

namespace {
constexpr std::uint32_t fnvOffset = 2166136261u;
constexpr std::uint32_t fnvPrime = 16777619u;

std::uint32_t mix(std::uint32_t h, std::string_view bytes) {
    for (unsigned char c : bytes) {
        h ^= c;
        h *= fnvPrime;
    }
    return h;
}
}  // namespace

std::uint32_t make(std::string_view api, std::string_view name, int attempt) {
    std::uint32_t h = mix(fnvOffset, api);
    h = mix(h, std::string_view("\0", 1));  // keeps ("AB", "C") apart from ("A", "BC")
    h = mix(h, name);
    if (attempt > 0) {
        h = mix(h, std::string_view("#", 1));
        for (int a = attempt; a > 0; a /= 10) h = mix(h, std::string_view(&"0123456789"[a % 10], 1));
    }
    return h == 0 ? 1u : h;
}

void assign(std::vector<AudioDeviceInfo>& devices) {
    std::unordered_set<std::uint32_t> taken;
    for (auto& device : devices) {
        std::uint32_t id = 0;
        for (int attempt = 0;; ++attempt) {
            id = make(device.api, device.name, attempt);
            if (taken.insert(id).second) break;
        }
        device.id = id;
    }
}

}  // namespace DeviceIds

}  // namespace quorvel
