#include "app/RoutePicker.h"

#include <QActionGroup>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <algorithm>

#include "engine/AudioHardware.h"
#include "engine/InterfaceOption.h"
#include "kit/QVFormat.h"
#include "kit/QVIcons.h"
#include "kit/QVStyle.h"

namespace quorvel {

namespace {
const QString kDefaultTitle = QStringLiteral("System default output");
}  // namespace

RoutePicker::RoutePicker(OutputList outputs, QWidget* parent)
    : QToolButton(parent), outputs_(std::move(outputs)), systemList_(!outputs_) {
    if (systemList_) outputs_ = &RoutePicker::systemOutputs;
    setObjectName(QStringLiteral("qvSymbolButton"));
    setIcon(QVIcons::icon(QStringLiteral("airplayaudio"), QVStyle::secondary()));
    setIconSize(QSize(18, 18));
    setAutoRaise(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setToolTip(QStringLiteral("Output device"));
    setAccessibleName(QStringLiteral("Output device"));
    setPopupMode(QToolButton::InstantPopup);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    // No menu arrow: the button is the symbol alone.
    setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }"));
    menu_ = new QMenu(this);
    setMenu(menu_);
    connect(menu_, &QMenu::aboutToShow, this, [this] {
        rebuildMenu();
        if (systemList_) AudioHardware::listing().refresh();
    });
    // Rebuilt only when the devices differ, so that an entry never moves under the pointer for nothing.
    if (systemList_)
        connect(&AudioHardware::listing(), &DeviceListing::listed, this, [this] {
            if (outputs_() != shown_) rebuildMenu();
        });
}

std::uint32_t RoutePicker::storedDeviceID() {
    bool ok = false;
    const qulonglong v = QSettings().value(QLatin1String(kDeviceIDKey)).toULongLong(&ok);
    // Only a real 32-bit device id counts; anything else reads as the system default.
    return ok && v <= 0xffffffffULL ? std::uint32_t(v) : 0;
}

QString RoutePicker::storedDeviceName() {
    return QSettings().value(QLatin1String(kDeviceNameKey)).toString();
}

void RoutePicker::store(std::uint32_t id, const QString& name, const QString& key) {
    QSettings settings;
    if (id == 0) {
        settings.remove(QLatin1String(kDeviceIDKey));
        settings.remove(QLatin1String(kDeviceNameKey));
    } else {
        settings.setValue(QLatin1String(kDeviceIDKey), qulonglong(id));
        settings.setValue(QLatin1String(kDeviceNameKey), name);
    }
    if (id == 0 || key.isEmpty())
        settings.remove(QLatin1String(kDeviceKeyKey));
    else
        settings.setValue(QLatin1String(kDeviceKeyKey), key);
}

std::vector<RouteOutput> RoutePicker::systemOutputs() {
    const auto& listed = AudioHardware::listing().latest();
    // A list that cannot be read offers only the default output; the next opening asks again.
    if (!listed || !*listed) return {};
    std::vector<RouteOutput> outputs;
    for (const AudioDeviceInfo& d : **listed) {
        QString name = QString::fromStdString(d.name);
        if (name.isEmpty()) name = QStringLiteral("Device %1").arg(d.id);
        // One device may be listed by two sound systems under one name (PipeWire's JACK and PulseAudio
        // sides): the menu tells them apart.
        const InterfaceOption option{d.id, name, QString::fromStdString(d.api), d.inputChannels,
                                     d.outputChannels};
        outputs.push_back({d.id, name, d.outputChannels, option.label(), QString::fromStdString(d.key)});
    }
    return outputs;
}

void RoutePicker::rebuildMenu() {
    menu_->clear();
    auto* group = new QActionGroup(menu_);
    group->setExclusive(true);
    shown_ = outputs_();
    std::uint32_t current = storedDeviceID();
    // The stored device under the id it has now: of two devices of one model, the one chosen.
    const QString currentKey = QSettings().value(QLatin1String(kDeviceKeyKey)).toString();
    if (current != 0 && !currentKey.isEmpty()) {
        std::uint32_t found = 0;
        for (const RouteOutput& out : shown_)
            if (out.key == currentKey && (found == 0 || out.id == current)) found = out.id;
        if (found != 0) current = found;
    }
    bool currentListed = current == 0;

    auto addChoice = [this, group](const QString& title, std::uint32_t id, const QString& name,
                                   const QString& key, bool checked) {
        QAction* a = menu_->addAction(qvLiteral(title));
        a->setCheckable(true);
        a->setChecked(checked);
        a->setData(qulonglong(id));
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, id, name, key] {
            store(id, name, key);
            emit chosen(id);
        });
    };

    addChoice(kDefaultTitle, 0, {}, {}, current == 0);
    if (!shown_.empty()) menu_->addSeparator();
    for (const RouteOutput& out : shown_) {
        if (out.id == 0 || out.outputChannels < 1) continue;
        addChoice(out.label.isEmpty() ? out.name : out.label, out.id, out.name, out.key, out.id == current);
        if (out.id == current) currentListed = true;
    }
    // The stored device is not connected now: show it, still chosen, so the choice stays visible.
    if (!currentListed) {
        const QString name = storedDeviceName();
        addChoice(
            (name.isEmpty() ? QStringLiteral("Chosen device") : name) + QStringLiteral(" (not connected)"),
            current, name, currentKey, true);
    }
    // The menu takes its new size where it stands; a listing that comes while it is open may make it wider
    // than the room it was placed in.
    if (menu_->isVisible()) placeMenu();
}

void RoutePicker::placeMenu() {
    const QSize size = menu_->sizeHint();
    const QRect screen = (menu_->screen() ? menu_->screen() : this->screen())->availableGeometry();
    const QPoint top = mapToGlobal(QPoint(0, 0));
    QPoint at(top.x(), top.y() + height());
    // A menu above the button stays above it: a shorter list must not jump to the other side.
    if (menu_->y() < top.y() || at.y() + size.height() > screen.bottom() + 1)
        at.setY(top.y() - size.height());
    at.setX(std::max(screen.left(), std::min(at.x(), screen.right() + 1 - size.width())));
    menu_->setGeometry(QRect(at, size));
}

}  // namespace quorvel
