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

TEST(DeviceIds, SameDeviceKeepsItsIdWhateverElseIsListed) {
    std::vector<AudioDeviceInfo> alone{device("JACK", "qv-sixteen")};
    std::vector<AudioDeviceInfo> crowded{device("JACK", "system"), device("JACK", "visitor"),
                                         device("JACK", "qv-sixteen")};
    DeviceIds::assign(alone);
    DeviceIds::assign(crowded);
    EXPECT_EQ(alone[0].id, crowded[2].id);
    EXPECT_NE(alone[0].id, 0u);
}

TEST(DeviceIds, ApiAndNameBothCountAndNeverRunTogether) {
    EXPECT_NE(DeviceIds::make("JACK", "system"), DeviceIds::make("ALSA", "system"));
    EXPECT_NE(DeviceIds::make("AB", "C"), DeviceIds::make("A", "BC"));
}

TEST(DeviceIds, DuplicateNamesGetDistinctIdsInListOrder) {
    std::vector<AudioDeviceInfo> list{device("ALSA", "USB Audio"), device("ALSA", "USB Audio"),
                                      device("ALSA", "USB Audio")};
    DeviceIds::assign(list);
    std::set<std::uint32_t> ids{list[0].id, list[1].id, list[2].id};
    EXPECT_EQ(ids.size(), 3u);
    // The first of the twins has the plain hash, so it keeps its id when the second is unplugged.
    EXPECT_EQ(list[0].id, DeviceIds::make("ALSA", "USB Audio"));
    EXPECT_EQ(list[1].id, DeviceIds::make("ALSA", "USB Audio", 1));
}

TEST(DeviceIds, ManyNamesNeverShareAnIdOrUseZero) {
    std::vector<AudioDeviceInfo> list;
    for (int i = 0; i < 20000; ++i) list.push_back(device("JACK", "client-" + std::to_string(i)));
    DeviceIds::assign(list);
    std::set<std::uint32_t> ids;
    for (const auto& d : list) {
        EXPECT_NE(d.id, 0u);
        ids.insert(d.id);
    }
    EXPECT_EQ(ids.size(), list.size());
}

}  // namespace quorvel
