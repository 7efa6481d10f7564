#pragma once
// Stable device ids: a 32-bit FNV-1a hash of the API name and the device name, never 0. The same device
// keeps its id while others come and go, unlike list positions. Two devices in one list never share an
// id: when a hash is taken (two devices with one name, or a true collision), the later device in list
// order is hashed again with an attempt number until the id is free.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AudioDevices.h"

namespace quorvel {

namespace DeviceIds {

// The id of (api, name) at the given attempt (0 first); never 0. Any thread.
std::uint32_t make(std::string_view api, std::string_view name, int attempt = 0);

// Gives every device of the list its id, in list order, resolving clashes as described above.
void assign(std::vector<AudioDeviceInfo>& devices);

// Tells apart devices of one API that share a name (two interfaces of one model), before assign(). Each
// such group takes the group's places in the list in this order: first its members as they were listed
// before (`previous`: the names listed last time, by key), the one that had the plain name first, then
// "(2)", …; then the others by `keys` (one per device: the API's own name for it, which stays from run to
// run; equal keys keep the list's order). The first keeps the name and each other becomes "<name> (2)",
// "<name> (3)", …, skipping a name the API already lists. So a device that was alone keeps its name and id
// when a twin appears, and the newcomer is "(2)"; in a first list the keys decide. Devices of a unique
// name, and those with an unreadable (empty) name, stay as they are, so they keep their ids. Returns the
// new order as the devices' former positions.
std::vector<std::size_t> tellApart(std::vector<AudioDeviceInfo>& devices,
                                   const std::vector<std::string>& keys,
                                   const std::map<std::string, std::string>& previous = {});

}  // namespace DeviceIds

}  // namespace quorvel
