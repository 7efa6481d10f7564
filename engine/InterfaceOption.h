#pragma once
// An audio device as the interface picker offers it. A value; any thread.
#include <QString>
#include <cstdint>

namespace quorvel {

struct InterfaceOption {
    std::uint32_t id = 0;  // stable device id (never 0)
    QString name;          // the device's name, or "Audio device <id>" when it cannot be read

    bool operator==(const InterfaceOption&) const = default;
};

}  // namespace quorvel
