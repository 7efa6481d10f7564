#pragma once
// Stable device ids: a 32-bit FNV-1a hash of the API name and the device name, never 0. The same device
// keeps its id while others come and go, unlike list positions. Two devices in one list never share an
// id: when a hash is taken (two devices with one name, or a true collision), the later device in list
// order is hashed again with an attempt number until the id is free.
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/AudioDevices.h"

namespace quorvel {

namespace DeviceIds {

// The id of (api, name) at the given attempt (0 first); never 0. Any thread.
std::uint32_t make(std::string_view api, std::string_view name, int attempt = 0);

// Gives every device of the list its id, in list order, resolving clashes as described above.
void assign(std::vector<AudioDeviceInfo>& devices);

}  // namespace DeviceIds

}  // namespace quorvel
