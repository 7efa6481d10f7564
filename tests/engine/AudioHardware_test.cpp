// The device list of the menus: read on a worker thread, one listing at a time, a stale one dropped.
#include "engine/AudioHardware.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <condition_variable>
#include <mutex>

#include "engine/InterfacePicker.h"
#include "platform/VirtualAudioSystem.h"

namespace quorvel {

namespace {

// A virtual system whose listings read the list, then wait for a permit as a slow server makes them wait.
// A listing on the main thread would wait for ever, since the permits come from there.
class GatedSystem : public VirtualAudioSystem {
public:
    using VirtualAudioSystem::VirtualAudioSystem;
    Result<std::vector<AudioDeviceInfo>> devices() override {
        auto list = VirtualAudioSystem::devices();
        std::unique_lock lock(mutex_);
        ++started_;
        permitted_.wait(lock, [this] { return permits_ > 0; });
        --permits_;
        return list;
    }
    void allow(int listings) {
        std::lock_guard lock(mutex_);
        permits_ += listings;
        permitted_.notify_all();
    }
    bool started(int listings) {
        return QTest::qWaitFor(
            [&] {
                std::lock_guard lock(mutex_);
                return started_ >= listings;
            },
            20000);
    }

private:
    std::mutex mutex_;
    std::condition_variable permitted_;
    int permits_ = 0;
    int started_ = 0;
};

QStringList names(const InterfacePicker& picker) {
    QStringList list;
    for (const auto& d : picker.devices()) list << d.name;
    return list;
}

}  // namespace

TEST(DeviceListing, ListsOnAWorkerOneAtATimeAndDropsAListingThatAChangeHasOvertaken) {
    auto system = std::make_shared<GatedSystem>(std::vector<VirtualDevice>{{.name = "A"}, {.name = "B"}});
    AudioHardware::install(system);
    const std::shared_ptr<void> release(nullptr, [&](void*) { system->allow(1000); });  // when a check fails
    DeviceListing& listing = AudioHardware::listing();
    QSignalSpy listed(&listing, &DeviceListing::listed);
    InterfacePicker picker;
    ASSERT_TRUE(system->started(1));
    // Asked again while the first listing waits, and a device goes: the first one, which still shows the
    // device, is dropped, and one more listing serves all of it.
    picker.refresh();
    listing.refresh();
    system->removeDevice("B");
    system->allow(1);
    ASSERT_TRUE(system->started(2));
    EXPECT_EQ(listed.count(), 0);
    system->allow(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed.count() == 1; }, 20000));
    EXPECT_EQ(names(picker), QStringList{"A"});
    EXPECT_TRUE(
        QTest::qWaitFor([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; }, 20000))
        << "no listing beyond those asked for";

    // A new picker shows the last listing before its own comes back.
    EXPECT_EQ(names(InterfacePicker()), QStringList{"A"});
}

}  // namespace quorvel
