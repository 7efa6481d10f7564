#pragma once
// The audio interface choice: the device list, the chosen device id (0 = the system default devices) and
// its persistence under the settings key Quorvel.interfaceID. A start reads the stored value (stored())
// when it begins, so a new choice reaches the analyser and the routed generator only after save(), at
// their next start.
//
// apply() binds an engine "output first, then input"; the audio layer never refuses a direction for
// lacking channels (see AudioDevices.h), so an input-only microphone binds for capture, and an engine
// that plays to it finds an output format with no channels.
//
// The devices come from the shared listing (AudioHardware::listing()): a new picker shows the last one at
// once, and every listing read later, whoever asked for it, updates it. The chosen device's name is stored
// beside its id, so that a device that cannot be used now (its server stopped, or it was unplugged) can
// still be named.
//
// Published state: Q_PROPERTYs written through publish() (core/Published.h); message has no change
// signal, as nothing observes it.
//
// Threads: main thread only, except StoredInterface, a value whose operations run on the start's worker.
#include <QList>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/InterfaceOption.h"
#include "platform/AudioDevices.h"

namespace quorvel {

// The interface choice as a start read it. Its operations may wait on a sound server: a start calls them
// on its worker. Any thread.
struct StoredInterface {
    qint64 value = 0;  // as stored: 0 for the system default devices; it may be no device id at all
    std::string key;   // what the server calls the device (AudioDeviceInfo::key); empty if not stored

    // The hardware in use: "device:<value>", or "default|<default input id>|<default output id>".
    QString identity(AudioSystem& system) const;
    // Points the engine's output, then (with includeInput) its input at the stored device, found by its key
    // when it has one (AudioSystem::chosenDevice()); nothing for 0.
    // The first refusal stops and gives an error whose code is the status and whose description is
    // "Selected interface unavailable or incompatible (<status>)", or, for a device that is not listed,
    // the system's sentence naming a sound server that is not responding.
    Status apply(AudioEngine& engine, bool includeInput, AudioSystem& system) const;
    // A fresh engine of `system` that apply() bound, or apply()'s refusal. A start makes one for each run,
    // so that a start given up can finish on its worker while the next goes on with its own.
    Result<std::unique_ptr<AudioEngine>> makeEngine(AudioSystem& system, bool includeInput) const;
};

class InterfacePicker : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<InterfaceOption> devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(quint32 selected READ selected WRITE setSelected NOTIFY selectedChanged)
    Q_PROPERTY(QString message READ message)

public:
    static constexpr const char* settingsKey = "Quorvel.interfaceID";
    // The name of the device save() stored under settingsKey.
    static constexpr const char* nameKey = "Quorvel.interfaceName";
    // What the sound server calls that device (AudioDeviceInfo::key): of two devices of one model, the one
    // chosen, whichever of them has the plain name now.
    static constexpr const char* deviceKey = "Quorvel.interfaceKey";

    // Reads the stored choice into selected(), shows the last listing and lists the devices again. While the
    // selection is the stored choice, it follows that device (by its key) as listings come.
    explicit InterfacePicker(QObject* parent = nullptr);

    const QList<InterfaceOption>& devices() const { return devices_; }
    std::uint32_t selected() const { return selected_; }
    void setSelected(std::uint32_t id);
    const QString& message() const { return message_; }

    // Re-reads the device list on a worker thread; devices() follows when it comes back. On failure the
    // previous list stays and message() says why.
    void refresh();
    // Stores selected() and its name, and notes when it applies.
    void save();

    // The chosen device's name: as listed, else as stored with the choice, else "Audio device <id>".
    // Empty for the system default.
    QString selectedName() const;

    // The choice stored by save(), for a start to take to its worker.
    static StoredInterface stored();

signals:
    void devicesChanged();
    void selectedChanged();

private:
    void show(const std::vector<AudioDeviceInfo>& list);

    QList<InterfaceOption> devices_;
    std::vector<std::pair<std::uint32_t, std::string>> keys_;  // each listed device's key
    std::uint32_t selected_ = 0;
    bool selectedIsStored_ = true;  // selected_ is the stored choice, not a pick not saved yet
    QString message_;
};

}  // namespace quorvel
