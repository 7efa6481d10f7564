#include "platform/Uuid.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/TempFiles.h"

namespace quorvel {

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
}

TEST(Uuid, RefusesMalformedText) {
    for (const char* bad :
         {"", "1234", "E621E1F8-C36C-495A-93FC-0C247A3E6E5", "E621E1F8-C36C-495A-93FC-0C247A3E6E5FF",
          "E621E1F8_C36C-495A-93FC-0C247A3E6E5F", "G621E1F8-C36C-495A-93FC-0C247A3E6E5F"})
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
}

TEST(Uuid, FreshValuesDiffer) {
    std::set<Uuid> seen;
    for (int i = 0; i < 1000; ++i) seen.insert(Uuid::generate());
    EXPECT_EQ(seen.size(), 1000u);
}

TEST(TempFiles, NamesFollowTheTemporaryFolder) {
    std::string p = TempFiles::freshPath("signal", "wav");
    EXPECT_EQ(p.rfind(TempFiles::directory() + "/signal-", 0), 0u);
    EXPECT_EQ(p.size(), TempFiles::directory().size() + 1 + 7 + 36 + 4);
}

}  // namespace quorvel
