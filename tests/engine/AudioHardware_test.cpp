// The device list of the menus: read on a worker thread, one listing at a time, a stale one dropped.
#include "engine/AudioHardware.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <condition_variable>
#include <mutex>

#include "engine/InterfacePicker.h"
#include "platform/VirtualAudioSystem.h"

namespace quorvel {

namespace {

// A virtual system whose listings each read the list and then wait for a permit, as a slow sound server
// makes them wait; it notes how many run at once and whether one ran on the main thread.
class GatedSystem : public VirtualAudioSystem {
public:
    using VirtualAudioSystem::VirtualAudioSystem;

    Result<std::vector<AudioDeviceInfo>> devices() override {
        auto list = VirtualAudioSystem::devices();
        std::unique_lock lock(mutex_);
        ++started_;
        mostAtOnce_ = std::max(mostAtOnce_, ++running_);
        onMainThread_ = onMainThread_ || QThread::currentThread() == QCoreApplication::instance()->thread();
        wake_.notify_all();
        wake_.wait(lock, [this] { return permits_ > 0; });
        --permits_;
        --running_;
        return list;
    }
    void allow(int listings) {
        std::lock_guard lock(mutex_);
        permits_ += listings;
        wake_.notify_all();
    }
    int started() {
        std::lock_guard lock(mutex_);
        return started_;
    }
    int mostAtOnce() {
        std::lock_guard lock(mutex_);
        return mostAtOnce_;
    }
    bool onMainThread() {
        std::lock_guard lock(mutex_);
        return onMainThread_;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    int permits_ = 0;
    int started_ = 0;
    int running_ = 0;
    int mostAtOnce_ = 0;
    bool onMainThread_ = false;
};

QStringList names(const InterfacePicker& picker) {
    QStringList list;
    for (const auto& d : picker.devices()) list << d.name;
    return list;
}

class DeviceListingTest : public ::testing::Test {
protected:
    void SetUp() override {
        system_ = std::make_shared<GatedSystem>(std::vector<VirtualDevice>{{.name = "A"}, {.name = "B"}});
        AudioHardware::install(system_);
    }
    void TearDown() override {
        system_->allow(1000);
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
    }
    std::shared_ptr<GatedSystem> system_;
};

}  // namespace

TEST_F(DeviceListingTest, ListsOnAWorkerOneAtATimeAndDropsAListingThatAChangeHasOvertaken) {
    DeviceListing& listing = AudioHardware::listing();
    QSignalSpy listed(&listing, &DeviceListing::listed);
    InterfacePicker picker;
    EXPECT_TRUE(picker.devices().isEmpty()) << "nothing listed yet for this system";
    ASSERT_TRUE(QTest::qWaitFor([&] { return system_->started() >= 1; }, 20000));
    // Asked again while the first listing waits on the server: it runs once that one ends, not beside it.
    picker.refresh();
    listing.refresh();
    // A device goes while the first listing, which still shows it, waits.
    system_->removeDevice("B");
    QCoreApplication::processEvents();
    system_->allow(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return system_->started() >= 2; }, 20000));
    QCoreApplication::processEvents();
    EXPECT_EQ(listed.count(), 0) << "the overtaken listing is dropped";
    EXPECT_TRUE(picker.devices().isEmpty());
    system_->allow(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed.count() == 1; }, 20000));
    EXPECT_EQ(names(picker), QStringList{"A"});
    EXPECT_EQ(system_->started(), 2) << "the requests made meanwhile share one listing";
    EXPECT_EQ(system_->mostAtOnce(), 1);
    EXPECT_FALSE(system_->onMainThread());

    // A new picker shows the last listing before its own comes back.
    InterfacePicker second;
    EXPECT_EQ(names(second), QStringList{"A"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return system_->started() >= 3; }, 20000));
    system_->addDevice({.name = "C"});  // told while that listing waits: it is listed again
    system_->allow(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return names(second) == QStringList({"A", "C"}); }, 20000));
    EXPECT_EQ(names(picker), names(second));

    // A listing of a system that has been replaced is dropped.
    listing.refresh();
    ASSERT_TRUE(QTest::qWaitFor([&] { return system_->started() >= 5; }, 20000));
    auto other = std::make_shared<VirtualAudioSystem>(std::vector<VirtualDevice>{{.name = "Other"}});
    AudioHardware::install(other);
    listed.clear();
    system_->allow(1);
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(listed.count(), 0);
    EXPECT_FALSE(listing.latest().has_value());
    listing.refresh();
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed.count() == 1; }, 20000));
    EXPECT_EQ(names(picker), QStringList{"Other"});
}

}  // namespace quorvel
