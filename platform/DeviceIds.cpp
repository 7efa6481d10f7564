#include "platform/DeviceIds.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <set>
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

namespace {

// Where a device stood in its group of `name` as listed before: 1 for the plain name, k for "<name> (k)";
// past every such place for a device not listed before under that name.
int placeBefore(const std::string& name, const std::string& key,
                const std::map<std::string, std::string>& previous) {
    constexpr int newcomer = std::numeric_limits<int>::max();
    const auto it = previous.find(key);
    if (key.empty() || it == previous.end()) return newcomer;
    const std::string& before = it->second;
    if (before == name) return 1;
    const std::string prefix = name + " (";
    if (before.size() <= prefix.size() + 1 || before.compare(0, prefix.size(), prefix) != 0 ||
        before.back() != ')')
        return newcomer;
    int number = 0;
    for (std::size_t i = prefix.size(); i + 1 < before.size(); ++i) {
        if (before[i] < '0' || before[i] > '9' || number > 100000) return newcomer;
        number = number * 10 + (before[i] - '0');
    }
    return number >= 2 ? number : newcomer;
}

}  // namespace

std::vector<std::size_t> tellApart(std::vector<AudioDeviceInfo>& devices,
                                   const std::vector<std::string>& keys,
                                   const std::map<std::string, std::string>& previous) {
    std::vector<std::size_t> order(devices.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    auto sameName = [&](std::size_t a, std::size_t b) {
        return devices[a].api == devices[b].api && devices[a].name == devices[b].name;
    };
    std::set<std::pair<std::string, std::string>> listed;
    for (const auto& d : devices) listed.emplace(d.api, d.name);
    std::vector<std::pair<std::size_t, int>> renamed;  // new position, number in its group
    std::vector<bool> seen(devices.size(), false);
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (seen[i] || devices[i].name.empty()) continue;
        std::vector<std::size_t> places;
        for (std::size_t j = i; j < devices.size(); ++j)
            if (!seen[j] && sameName(i, j)) {
                seen[j] = true;
                places.push_back(j);
            }
        if (places.size() < 2) continue;
        std::vector<std::size_t> members = places;
        const std::string& name = devices[i].name;
        std::stable_sort(members.begin(), members.end(), [&](std::size_t a, std::size_t b) {
            return std::pair(placeBefore(name, keys[a], previous), keys[a]) <
                   std::pair(placeBefore(name, keys[b], previous), keys[b]);
        });
        for (std::size_t k = 0; k < places.size(); ++k) {
            order[places[k]] = members[k];
            if (k > 0) renamed.emplace_back(places[k], static_cast<int>(k + 1));
        }
    }
    std::vector<AudioDeviceInfo> before = std::move(devices);
    devices.clear();
    for (std::size_t from : order) devices.push_back(std::move(before[from]));
    for (auto [at, number] : renamed) {
        AudioDeviceInfo& d = devices[at];
        std::string name;
        for (int n = number;; ++n) {
            name = d.name + " (" + std::to_string(n) + ")";
            if (listed.emplace(d.api, name).second) break;
        }
        d.name = std::move(name);
    }
    return order;
}

}  // namespace DeviceIds

}  // namespace quorvel
