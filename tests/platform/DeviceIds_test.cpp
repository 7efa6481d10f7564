#include "platform/DeviceIds.h"

#include <gtest/gtest.h>

#include <set>

namespace quorvel {

namespace {
AudioDeviceInfo device(std::string api, std::string name) {
    AudioDeviceInfo d;
    d.api = std::move(api);
    d.name = std::move(name);
    return d;
}
}  // namespace

// A device keeps its id whatever else is listed; twins differ in list order, the first the plain id.
TEST(DeviceIds, SameDeviceKeepsItsIdTwinsDifferAndNoIdIsSharedOrZero) {
    std::vector<AudioDeviceInfo> alone{device("JACK", "qv-sixteen")};
    std::vector<AudioDeviceInfo> crowded{device("JACK", "system"), device("JACK", "visitor"),
                                         device("JACK", "qv-sixteen")};
    DeviceIds::assign(alone);
    DeviceIds::assign(crowded);
    EXPECT_EQ(alone[0].id, crowded[2].id);
    EXPECT_NE(DeviceIds::make("JACK", "system"), DeviceIds::make("ALSA", "system"));
    EXPECT_NE(DeviceIds::make("AB", "C"), DeviceIds::make("A", "BC"));

    std::vector<AudioDeviceInfo> twins{device("ALSA", "USB Audio"), device("ALSA", "USB Audio")};
    DeviceIds::assign(twins);
    EXPECT_EQ(twins[0].id, DeviceIds::make("ALSA", "USB Audio"));
    EXPECT_EQ(twins[1].id, DeviceIds::make("ALSA", "USB Audio", 1));
    EXPECT_NE(twins[0].id, twins[1].id);

    std::vector<AudioDeviceInfo> list;
    for (int i = 0; i < 20000; ++i) list.push_back(device("JACK", "client-" + std::to_string(i)));
    DeviceIds::assign(list);
    std::set<std::uint32_t> ids{0};
    for (const auto& d : list) ids.insert(d.id);
    EXPECT_EQ(ids.size(), list.size() + 1);
}

}  // namespace quorvel
