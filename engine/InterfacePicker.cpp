#include "engine/InterfacePicker.h"

#include <QSettings>
#include <algorithm>
#include <limits>

#include "core/Published.h"
#include "engine/AudioHardware.h"

namespace quorvel {

namespace {

// The stored integer, absent when the key is missing or holds no integer.
std::optional<qint64> storedValue() {
    const QVariant value = QSettings("Quorvel", "Quorvel").value(InterfacePicker::settingsKey);
    if (!value.isValid()) return std::nullopt;
    bool ok = false;
    const qint64 number = value.toLongLong(&ok);
    if (!ok) return std::nullopt;
    return number;
}

QString fallbackName(std::uint32_t id) { return "Audio device " + QString::number(id); }

std::string storedKey() {
    return QSettings("Quorvel", "Quorvel").value(InterfacePicker::deviceKey).toString().toStdString();
}

bool isDeviceId(qint64 value) { return value >= 0 && value <= std::numeric_limits<std::uint32_t>::max(); }

Error refusal(std::int32_t status) {
    return Error{AudioStatus::errorDomain, status,
                 "Selected interface unavailable or incompatible (" + std::to_string(status) + ")"};
}

}  // namespace

InterfacePicker::InterfacePicker(QObject* parent) : QObject(parent) {
    // A stored value that is no device id stands for the system default here; apply() refuses it.
    const qint64 stored = storedValue().value_or(0);
    selected_ = isDeviceId(stored) ? static_cast<std::uint32_t>(stored) : 0;
    DeviceListing& listing = AudioHardware::listing();
    connect(&listing, &DeviceListing::listed, this, [this] {
        const auto& list = *AudioHardware::listing().latest();
        if (!list) {
            message_ = list.error().code == AudioSystem::listUnreadable ? "Cannot read interfaces"
                                                                        : "Cannot enumerate interfaces";
            return;
        }
        show(*list);
    });
    if (listing.latest()) show(listing.lastGood());
    refresh();
}

void InterfacePicker::setSelected(std::uint32_t id) {
    selectedIsStored_ = false;
    publish(this, selected_, id, &InterfacePicker::selectedChanged);
}

void InterfacePicker::refresh() { AudioHardware::listing().refresh(); }

void InterfacePicker::show(const std::vector<AudioDeviceInfo>& list) {
    QList<InterfaceOption> options;
    keys_.clear();
    for (const auto& d : list) {
        const QString name = d.name.empty() ? fallbackName(d.id) : QString::fromStdString(d.name);
        options.append({d.id, name, QString::fromStdString(d.api), d.inputChannels, d.outputChannels});
        keys_.emplace_back(d.id, d.key);
    }
    // The stored device may have another id now (its twin took its name): the selection follows it.
    if (selectedIsStored_ && selected_ != 0)
        if (const std::string key = storedKey(); !key.empty()) {
            std::uint32_t found = 0;
            for (const auto& [id, listedKey] : keys_)
                if (listedKey == key && (found == 0 || id == selected_)) found = id;
            if (found != 0) publish(this, selected_, found, &InterfacePicker::selectedChanged);
        }
    publish(this, devices_, std::move(options), &InterfacePicker::devicesChanged);
}

void InterfacePicker::save() {
    const QString name = selectedName();
    QSettings settings("Quorvel", "Quorvel");
    settings.setValue(settingsKey, static_cast<qint64>(selected_));
    if (selected_ == 0)
        settings.remove(nameKey);
    else
        settings.setValue(nameKey, name);
    // The key of a device not listed now (kept from an earlier choice) stays with its id.
    const auto listed =
        std::find_if(keys_.begin(), keys_.end(), [&](const auto& k) { return k.first == selected_; });
    if (listed != keys_.end() && !listed->second.empty())
        settings.setValue(deviceKey, QString::fromStdString(listed->second));
    else if (selected_ == 0 || listed != keys_.end() || !selectedIsStored_)
        settings.remove(deviceKey);
    selectedIsStored_ = true;
    message_ = "Applies to measurement and routed generator on next start.";
}

QString InterfacePicker::selectedName() const {
    if (selected_ == 0) return {};
    for (const InterfaceOption& d : devices_)
        if (d.id == selected_) return d.name;
    if (storedValue() == static_cast<qint64>(selected_)) {
        const QString stored = QSettings("Quorvel", "Quorvel").value(nameKey).toString();
        if (!stored.isEmpty()) return stored;
    }
    return fallbackName(selected_);
}

StoredInterface InterfacePicker::stored() { return {storedValue().value_or(0), storedKey()}; }

QString StoredInterface::identity(AudioSystem& system) const {
    if (value != 0) return "device:" + QString::number(value);
    return "default|" + QString::number(system.defaultInputDevice()) + "|" +
           QString::number(system.defaultOutputDevice());
}

Status StoredInterface::apply(AudioEngine& engine, bool includeInput, AudioSystem& system) const {
    if (value == 0) return Status::success();
    if (!isDeviceId(value)) return refusal(AudioStatus::deviceNotFound);
    // A listed device is refused for what it is; one that is not listed may belong to a server that does
    // not answer.
    auto refused = [&system](std::int32_t status) {
        Error error = refusal(status);
        if (status == AudioStatus::deviceNotFound)
            error.description = AudioHardware::missingDevice(system, std::move(error.description));
        return error;
    };
    const auto id = system.chosenDevice(static_cast<std::uint32_t>(value), key);
    if (const std::int32_t status = engine.bindOutput(id); status != 0) return refused(status);
    if (includeInput)
        if (const std::int32_t status = engine.bindInput(id); status != 0) return refused(status);
    return Status::success();
}

Result<std::unique_ptr<AudioEngine>> StoredInterface::makeEngine(AudioSystem& system,
                                                                 bool includeInput) const {
    std::unique_ptr<AudioEngine> engine = system.makeEngine();
    if (Status bound = apply(*engine, includeInput, system); !bound) return bound.error();
    return engine;
}

}  // namespace quorvel
