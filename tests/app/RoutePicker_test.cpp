#include "app/RoutePicker.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QHBoxLayout>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include "Listings.h"
#include "engine/AudioHardware.h"
#include "platform/VirtualAudioSystem.h"

namespace quorvel {

namespace {

std::vector<RouteOutput> devices() {
    return {{101, "Built-in Audio", 2, {}, {}},
            {202, "USB Mic", 0, {}, {}},
            {303, "Interface 18i20", 20, {}, {}}};
}

// The menu's entries as they stand (and the checked one's).
QStringList titles(RoutePicker& picker, QString* checked = nullptr) {
    QStringList titles;
    for (QAction* a : picker.menu()->actions()) {
        if (a->isSeparator()) continue;
        titles << a->text();
        if (checked && a->isChecked()) *checked = a->text();
    }
    return titles;
}

QStringList openMenu(RoutePicker& picker, QString* checked = nullptr) {
    emit picker.menu()->aboutToShow();
    return titles(picker, checked);
}

QAction* action(RoutePicker& picker, const QString& title) {
    for (QAction* a : picker.menu()->actions())
        if (a->text() == title) return a;
    return nullptr;
}

}  // namespace

TEST(RoutePicker, ListsStereoOutputsAndTheChoiceIsStoredAndRememberedEvenWhenTheDeviceIsGone) {
    RoutePicker::store(0, {});
    std::uint32_t announced = 0;
    {
        RoutePicker picker(devices);
        QString checked;
        EXPECT_EQ(openMenu(picker, &checked),
                  QStringList({"System default output", "Built-in Audio", "Interface 18i20"}));
        EXPECT_EQ(checked, "System default output");
        QObject::connect(&picker, &RoutePicker::chosen, [&](std::uint32_t id) { announced = id; });
        action(picker, "Interface 18i20")->trigger();
    }
    EXPECT_EQ(announced, 303u);
    EXPECT_EQ(RoutePicker::storedDeviceID(), 303u);
    EXPECT_EQ(QSettings().value(RoutePicker::kDeviceIDKey).toUInt(), 303u);

    RoutePicker again(devices);
    QString checked;
    openMenu(again, &checked);
    EXPECT_EQ(checked, "Interface 18i20");
    action(again, "System default output")->trigger();
    EXPECT_EQ(RoutePicker::storedDeviceID(), 0u);
    EXPECT_FALSE(QSettings().contains(RoutePicker::kDeviceIDKey));
    // A chosen device that is missing stays listed and chosen; unreadable stored values mean the default.
    RoutePicker::store(404, "Stage Box");
    EXPECT_EQ(openMenu(again, &checked).last(), "Stage Box (not connected)");
    EXPECT_EQ(checked, "Stage Box (not connected)");
    for (const QVariant& bad : {QVariant("abc"), QVariant(-5), QVariant(qulonglong(1) << 40)}) {
        QSettings().setValue(RoutePicker::kDeviceIDKey, bad);
        EXPECT_EQ(RoutePicker::storedDeviceID(), 0u) << bad.toString().toStdString();
    }
}

// Two outputs of one model: the stored choice is the one its server name names, whichever of them has the
// name (and id) it was chosen under now, and a new choice stores its server name.
TEST(RoutePicker, TheChoiceOfOneOfTwinsIsTheDeviceItsServerNameNames) {
    auto twins = [] {
        return std::vector<RouteOutput>{{501, "Twin", 2, {}, "PulseAudio:twin_a"},
                                        {502, "Twin (2)", 4, {}, "PulseAudio:twin_z"}};
    };
    RoutePicker::store(501, "Twin", "PulseAudio:twin_z");
    RoutePicker picker(twins);
    QString checked;
    openMenu(picker, &checked);
    EXPECT_EQ(checked, "Twin (2)");
    action(picker, "Twin")->trigger();
    EXPECT_EQ(QSettings().value(RoutePicker::kDeviceKeyKey).toString(), "PulseAudio:twin_a");
    RoutePicker::store(0, {});
    EXPECT_FALSE(QSettings().contains(RoutePicker::kDeviceKeyKey));
}

TEST(RoutePicker, OffersThePlatformsStereoOutputsByDefault) {
    RoutePicker::store(0, {});
    auto system = std::make_shared<VirtualAudioSystem>(std::vector<VirtualDevice>{
        {.name = "Speakers", .inputChannels = 0, .outputChannels = 2},
        {.name = "Measurement mic", .inputChannels = 1, .outputChannels = 0},
        {.name = "Headset", .inputChannels = 1, .outputChannels = 1},
        {.name = "", .inputChannels = 0, .outputChannels = 8, .nameUnreadable = true}});
    const auto previous = AudioHardware::install(system);
    RoutePicker picker;
    // The menu opens at once on the last listing (none yet) and follows the one it asked for.
    EXPECT_EQ(openMenu(picker), QStringList{"System default output"});
    settleListings();
    const QStringList shown = titles(picker);
    ASSERT_EQ(shown.size(), 4);
    // Named with their sound system and channels (a name may be listed by two systems); stored by name. A
    // device with one output plays the stereo mixed down; one without outputs is not offered.
    EXPECT_EQ(shown[1], "Speakers \u00b7 Virtual \u00b7 0 in, 2 out");
    EXPECT_EQ(shown[2], "Headset \u00b7 Virtual \u00b7 1 in, 1 out");
    EXPECT_TRUE(shown[3].startsWith("Device "));
    action(picker, shown[1])->trigger();
    EXPECT_EQ(RoutePicker::storedDeviceID(), system->idOf("Speakers"));
    EXPECT_EQ(RoutePicker::storedDeviceName(), "Speakers");
    // A listing that changes nothing leaves the entries where they are.
    EXPECT_EQ(openMenu(picker), shown);
    action(picker, shown[1])->setProperty("built", "before the listing");
    settleListings();
    EXPECT_TRUE(action(picker, shown[1])->property("built").isValid());
    // A device list that cannot be read leaves the default and the stored choice.
    system->setListFailure(AudioSystem::listUnavailable);
    QString checked;
    openMenu(picker);
    settleListings();
    EXPECT_EQ(titles(picker, &checked), QStringList({"System default output", "Speakers (not connected)"}));
    EXPECT_EQ(checked, "Speakers (not connected)");
    AudioHardware::install(previous);
}

// The button at the screen's right edge, as in the transport bar of a window there: the first opening has
// only the last listing (none yet) and grows when the new one comes; a later listing without the long
// names shrinks it. Open all the while, the menu takes each new size by the button and inside the screen.
TEST(RoutePicker, AnOpenMenuWhoseListChangesStaysByTheButtonInsideTheScreen) {
    RoutePicker::store(0, {});
    auto system = std::make_shared<VirtualAudioSystem>(
        std::vector<VirtualDevice>{{.name = "Front of house left and right mains", .outputChannels = 2},
                                   {.name = "Monitor world stage box", .outputChannels = 16}});
    const auto previous = AudioHardware::install(system);
    QWidget window;
    auto* row = new QHBoxLayout(&window);
    row->addStretch(1);
    auto* picker = new RoutePicker;
    row->addWidget(picker);
    const QRect screen = window.screen()->availableGeometry();
    window.setGeometry(screen.right() + 1 - 200, screen.top() + 100, 200, 60);
    window.show();
    QCoreApplication::processEvents();

    QMenu* menu = picker->menu();
    struct Seen {
        QRect geometry;
        QSize hint;
        QStringList titles;
    };
    std::vector<Seen> seen;
    const auto look = [&] { seen.push_back({menu->geometry(), menu->sizeHint(), titles(*picker)}); };
    // Run from the menu's own loop as it opens. That is itself the delivery of a posted call, inside which
    // only sendPostedEvents() hands on the listings' answers.
    const auto listingsComeBack = [] {
        for (int round = 0; round < 3; ++round) {
            QThreadPool::globalInstance()->waitForDone();
            QCoreApplication::sendPostedEvents();
        }
    };
    QTimer::singleShot(0, menu, [&] {
        look();
        listingsComeBack();
        look();
        system->removeDevice("Front of house left and right mains");
        AudioHardware::listing().refresh();
        listingsComeBack();
        look();
        menu->close();
    });
    QTest::mouseClick(picker, Qt::LeftButton);  // the menu runs until the steps above close it
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].titles, QStringList{"System default output"});
    EXPECT_EQ(seen[1].titles.size(), 3);
    EXPECT_EQ(seen[2].titles.size(), 2);
    EXPECT_GT(seen[1].hint.width(), seen[0].hint.width());
    const QRect button(picker->mapToGlobal(QPoint(0, 0)), picker->size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(seen[i].titles.join(", ").toStdString());
        EXPECT_TRUE(screen.contains(seen[i].geometry));
        EXPECT_EQ(seen[i].geometry.size(), seen[i].hint);
        EXPECT_TRUE(seen[i].geometry.top() == button.bottom() + 1 ||
                    seen[i].geometry.bottom() < button.top());
    }
    AudioHardware::install(previous);
}

}  // namespace quorvel
