#include "platform/Uuid.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "platform/TempFiles.h"

namespace quorvel {

// Fresh values differ, print in upper case and parse back from either case; malformed text is refused.
TEST(Uuid, FormatsUpperCaseAndParsesBothCases) {
    auto u = Uuid::generate();
    std::string text = u.toString();
    ASSERT_EQ(text.size(), 36u);
    EXPECT_EQ(text[14], '4');  // version nibble
    for (char c : text)
        EXPECT_TRUE(c == '-' || std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'));
    std::string lower = text;
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(Uuid::parse(lower), u);
    EXPECT_EQ(Uuid::parse(text), u);
    for (const char* bad :
         {"", "1234", "E621E1F8-C36C-495A-93FC-0C247A3E6E5", "E621E1F8-C36C-495A-93FC-0C247A3E6E5FF",
          "E621E1F8_C36C-495A-93FC-0C247A3E6E5F", "G621E1F8-C36C-495A-93FC-0C247A3E6E5F"})
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
    std::set<Uuid> seen;
    for (int i = 0; i < 1000; ++i) seen.insert(Uuid::generate());
    EXPECT_EQ(seen.size(), 1000u);
}

// A name planted beforehand in the shared folder, file or link, is never opened or written through.
TEST(TempFiles, RendersAreCreatedExclusively) {
    const std::string dir = TempFiles::directory();
    auto fresh = TempFiles::create("signal", "wav");
    ASSERT_TRUE(fresh) << fresh.error().description;
    EXPECT_EQ(fresh->rfind(dir + "/signal-", 0), 0u);
    EXPECT_EQ(fresh->size(), dir.size() + 1 + 7 + 36 + 4);
    struct stat info {};
    ASSERT_EQ(::lstat(fresh->c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const std::string victim = dir + "/victim.txt", link = dir + "/planted.wav",
                      dangling = dir + "/dangling.wav";
    std::ofstream(victim) << "keep";
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
    ASSERT_EQ(::symlink((dir + "/made-through-link").c_str(), dangling.c_str()), 0);
    for (const std::string& planted : {link, dangling, victim}) {
        const Status created = TempFiles::createExclusive(planted);
        ASSERT_FALSE(created) << planted;
        EXPECT_EQ(created.error().code, EEXIST);
    }
    std::string content;
    std::getline(std::ifstream(victim), content);
    EXPECT_EQ(content, "keep");
    EXPECT_NE(::access((dir + "/made-through-link").c_str(), F_OK), 0);
    for (const std::string& p : {*fresh, victim, link, dangling}) TempFiles::removeQuietly(p);
}

// A name someone took first is passed over for a fresh one; only names that stay taken make it give up.
TEST(TempFiles, ATakenNameIsRetriedWithAnother) {
    const Uuid taken = Uuid::generate(), free = Uuid::generate();
    const auto path = [](const Uuid& id) {
        return TempFiles::directory() + "/signal-" + id.toString() + ".wav";
    };
    ASSERT_TRUE(TempFiles::createExclusive(path(taken)));
    int drawn = 0;
    const auto created = TempFiles::create("signal", "wav", [&] { return ++drawn < 3 ? taken : free; });
    ASSERT_TRUE(created) << created.error().description;
    EXPECT_EQ(*created, path(free));
    const auto refused = TempFiles::create("signal", "wav", [&] { return taken; });
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, EEXIST);
    for (const Uuid& id : {taken, free}) TempFiles::removeQuietly(path(id));
}

}  // namespace quorvel
