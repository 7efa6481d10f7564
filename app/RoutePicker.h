#pragma once
// The output-route button of the transport bar: a small symbol button whose menu lists the system default
// output and every output device that ordinary stereo playback can use (any with outputs: a device with one
// output plays the stereo mixed down).
// Choosing one stores it in the user defaults, where the stereo player reads it at its next start; the
// choice is remembered across runs. Devices are named by the platform's stable device id, with the name
// kept beside it so that a device that is not connected can still be shown as the current choice.
//
// The platform's devices come from the shared listing (AudioHardware::listing()): the menu opens at once on
// the last listing, asks for a new one, and follows each one that comes back while it exists. An open menu
// whose entries change is placed again for its new size, by the button and inside the screen.
// Main thread only.
#include <QString>
#include <QToolButton>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/AudioController.h"

class QMenu;

namespace quorvel {

struct RouteOutput {
    std::uint32_t id = 0;  // the platform's stable device id; never 0
    QString name;
    int outputChannels = 0;
    QString label;  // what the menu shows (InterfaceOption::label()); empty: the name
    QString key;    // what the sound server calls it (AudioDeviceInfo::key); may be empty

    bool operator==(const RouteOutput&) const = default;
};

class RoutePicker : public QToolButton {
    Q_OBJECT
public:
    // User-defaults keys: the chosen output's device id (0 or absent = the system default output), its
    // name as last seen, and what its sound server calls it, which finds it again when a twin of its model
    // has taken its name (and id).
    static constexpr const char* kDeviceIDKey = AudioController::outputDeviceKey;
    static constexpr const char* kDeviceNameKey = "Quorvel.outputDeviceName";
    static constexpr const char* kDeviceKeyKey = AudioController::outputDeviceKeyKey;

    using OutputList = std::function<std::vector<RouteOutput>()>;

    // `outputs` is asked afresh each time the menu opens; without it the platform's devices are shown.
    explicit RoutePicker(OutputList outputs = {}, QWidget* parent = nullptr);

    // The stored choice: a device id, or 0 for the system default output. Any thread (QSettings).
    static std::uint32_t storedDeviceID();
    static QString storedDeviceName();
    // Stores a choice; id 0 chooses the system default output and forgets the name and key.
    static void store(std::uint32_t id, const QString& name, const QString& key = {});

    // The platform's output devices as last listed, in the system's order; none when that listing failed.
    static std::vector<RouteOutput> systemOutputs();

signals:
    // After the user chose an output (0 = system default).
    void chosen(std::uint32_t deviceID);

private:
    void rebuildMenu();
    // Puts the open menu below the button (above it where it was above, or where the screen has no room
    // below), its left edge at the button's, moved left as far as it must to end inside the screen.
    void placeMenu();

    OutputList outputs_;
    bool systemList_ = false;  // outputs_ is the platform's listing
    std::vector<RouteOutput> shown_;
    QMenu* menu_ = nullptr;
};

}  // namespace quorvel
