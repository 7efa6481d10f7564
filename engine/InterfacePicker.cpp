#include "engine/InterfacePicker.h"

#include <QSettings>
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
    publish(this, selected_, id, &InterfacePicker::selectedChanged);
}

void InterfacePicker::refresh() { AudioHardware::listing().refresh(); }

void InterfacePicker::show(const std::vector<AudioDeviceInfo>& list) {
    QList<InterfaceOption> options;
    for (const auto& d : list) {
        const QString name = d.name.empty() ? fallbackName(d.id) : QString::fromStdString(d.name);
        options.append({d.id, name, QString::fromStdString(d.api), d.inputChannels, d.outputChannels});
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

QString InterfacePicker::identity() {
    const qint64 stored = storedValue().value_or(0);
    if (stored != 0) return "device:" + QString::number(stored);
    AudioSystem& system = AudioHardware::system();
    return "default|" + QString::number(system.defaultInputDevice()) + "|" +
           QString::number(system.defaultOutputDevice());
}

Status InterfacePicker::apply(AudioEngine& engine, bool includeInput) {
    const qint64 stored = storedValue().value_or(0);
    if (stored == 0) return Status::success();
    if (!isDeviceId(stored)) return refusal(AudioStatus::deviceNotFound);
    const auto id = static_cast<std::uint32_t>(stored);
    if (const std::int32_t status = engine.bindOutput(id); status != 0) return refusal(status);
    if (includeInput)
        if (const std::int32_t status = engine.bindInput(id); status != 0) return refusal(status);
    return Status::success();
}

}  // namespace quorvel
