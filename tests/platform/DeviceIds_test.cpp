#include "platform/DeviceIds.h"

#include <gtest/gtest.h>

#include <map>
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

// Stored choices hold these ids: the hash of a device that has a name of its own must never change.
TEST(DeviceIds, UniqueNamesKeepTheIdsStoredChoicesHold) {
    EXPECT_EQ(DeviceIds::make("PulseAudio", "qv-stereo"), 0x1914d10eu);
    EXPECT_EQ(DeviceIds::make("PulseAudio", "Monitor of qv-stereo"), 0x1385f8c5u);
    EXPECT_EQ(DeviceIds::make("JACK", "system"), 0xc96a228fu);
    EXPECT_EQ(DeviceIds::make("ALSA", "hw:HDA Intel PCH,0"), 0xdace9ec7u);
}

// Twins are ordered by their keys into the group's places, the later ones named "(2)", "(3)", … past any
// name already listed; unique and unreadable names, and other APIs' devices of the name, stay as they are.
TEST(DeviceIds, TellApartNamesTwinsByTheirKeysAndLeavesUniqueNames) {
    std::vector<AudioDeviceInfo> list{device("PulseAudio", "twin"),
                                      device("PulseAudio", "solo"),
                                      device("PulseAudio", "twin"),
                                      device("JACK", "twin"),
                                      device("PulseAudio", "twin (2)"),
                                      device("PulseAudio", "twin"),
                                      device("ALSA", ""),
                                      device("ALSA", "")};
    for (std::size_t i = 0; i < list.size(); ++i) list[i].inputChannels = static_cast<int>(i);
    const std::vector<std::string> keys{"twin_c", "solo", "twin_a", "twin", "x", "twin_b", "", ""};
    const auto order = DeviceIds::tellApart(list, keys);
    EXPECT_EQ(order, (std::vector<std::size_t>{2, 1, 5, 3, 4, 0, 6, 7}));
    std::vector<std::pair<std::string, int>> named;
    for (const auto& d : list) named.emplace_back(d.name, d.inputChannels);
    EXPECT_EQ(named, (std::vector<std::pair<std::string, int>>{{"twin", 2},
                                                               {"solo", 1},
                                                               {"twin (3)", 5},
                                                               {"twin", 3},
                                                               {"twin (2)", 4},
                                                               {"twin (4)", 0},
                                                               {"", 6},
                                                               {"", 7}}));
    // Listed again in another order, each twin gets the same name.
    std::vector<AudioDeviceInfo> again{device("PulseAudio", "twin"), device("PulseAudio", "twin")};
    EXPECT_EQ(DeviceIds::tellApart(again, {"twin_b", "twin_a"}), (std::vector<std::size_t>{1, 0}));
    EXPECT_EQ(again[1].name, "twin (2)");
}

// Twins listed before keep their places, whatever their keys: the one that was alone keeps the plain name
// (and so its id) when a twin whose key sorts first appears, and "(2)" stays ahead of "(3)"; newcomers
// follow, by their keys.
TEST(DeviceIds, TellApartKeepsTheNamesTwinsWereListedUnder) {
    std::vector<AudioDeviceInfo> list{device("PulseAudio", "twin"), device("PulseAudio", "twin")};
    const std::map<std::string, std::string> alone{{"twin_z", "twin"}};
    EXPECT_EQ(DeviceIds::tellApart(list, {"twin_a", "twin_z"}, alone), (std::vector<std::size_t>{1, 0}));
    EXPECT_EQ(list[1].name, "twin (2)");

    std::vector<AudioDeviceInfo> three{device("PulseAudio", "twin"), device("PulseAudio", "twin"),
                                       device("PulseAudio", "twin"), device("PulseAudio", "twin")};
    const std::map<std::string, std::string> before{
        {"d", "twin (3)"}, {"c", "twin (2)"}, {"b", "other"}, {"e", "twin (x)"}};
    // "c" was (2), "d" (3); "a" and "b" (listed under another name) come after them, by key.
    EXPECT_EQ(DeviceIds::tellApart(three, {"a", "b", "c", "d"}, before),
              (std::vector<std::size_t>{2, 3, 0, 1}));
    EXPECT_EQ(three[0].name, "twin");
    EXPECT_EQ(three[3].name, "twin (4)");
}

}  // namespace quorvel
