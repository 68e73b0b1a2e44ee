#include "Uuid.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <string>
#include <vector>

using OrvelUtility::Uuid;

namespace {

bool IsLowerHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

} // namespace

TEST(UuidTest, CreatedIdsAreCanonicalVersion4AndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const Uuid id = Uuid::Create();
        ASSERT_FALSE(id.IsNull());
        const std::string& text = id.ToString();
        ASSERT_EQ(36u, text.size()) << text;
        for (std::size_t p = 0; p < text.size(); ++p) {
            if (p == 8 || p == 13 || p == 18 || p == 23)
                ASSERT_EQ('-', text[p]) << text;
            else
                ASSERT_TRUE(IsLowerHex(text[p])) << text;
        }
        ASSERT_EQ('4', text[14]) << text;
        ASSERT_NE(std::string::npos, std::string("89ab").find(text[19])) << text;
        ASSERT_TRUE(seen.insert(text).second) << "duplicate " << text;
    }
}

TEST(UuidTest, TextFormsRoundTrip) {
    const Uuid id = Uuid::Create();
    const std::string formatted = id.ToFormattedString();
    ASSERT_EQ(38u, formatted.size());
    EXPECT_EQ('{', formatted.front());
    EXPECT_EQ('}', formatted.back());
    for (char c : formatted)
        EXPECT_FALSE(c >= 'a' && c <= 'z') << formatted;

    EXPECT_EQ(id, Uuid(id.ToString()));
    EXPECT_EQ(id, Uuid(formatted));
    EXPECT_EQ(id.ToString(), Uuid(formatted).ToString());
}

TEST(UuidTest, AcceptsBothFormsInAnyLetterCase) {
    const std::string canonical = "0f8fad5b-d9cb-469f-a165-70867728950e";
    for (const std::string text :
         {"0f8fad5b-d9cb-469f-a165-70867728950e", "0F8FAD5B-D9CB-469F-A165-70867728950E",
          "0f8FaD5b-D9cb-469F-a165-70867728950E", "{0f8fad5b-d9cb-469f-a165-70867728950e}",
          "{0F8FAD5B-D9CB-469F-A165-70867728950E}"}) {
        const Uuid id(text);
        EXPECT_FALSE(id.IsNull()) << text;
        EXPECT_EQ(canonical, id.ToString()) << text;
        EXPECT_EQ("{0F8FAD5B-D9CB-469F-A165-70867728950E}", id.ToFormattedString()) << text;
    }
    // Any well-formed id is accepted, not only version 4 ones.
    EXPECT_EQ("00000000-0000-0000-0000-000000000001",
              Uuid("00000000-0000-0000-0000-000000000001").ToString());
}

TEST(UuidTest, AnythingElseIsNull) {
    const std::string withNul("0f8fad5b-d9cb-469f-a165-7086772895\0e", 36);
    for (const std::string& text : std::initializer_list<std::string>{
             "",
             "00000000-0000-0000-0000-000000000000",
             "{00000000-0000-0000-0000-000000000000}",
             " 0f8fad5b-d9cb-469f-a165-70867728950e",
             "0f8fad5b-d9cb-469f-a165-70867728950e ",
             "{0f8fad5b-d9cb-469f-a165-70867728950e",
             "0f8fad5b-d9cb-469f-a165-70867728950e}",
             "(0f8fad5b-d9cb-469f-a165-70867728950e)",
             "{{0f8fad5b-d9cb-469f-a165-70867728950e}}",
             "0f8fad5bd9cb469fa16570867728950e",
             "0f8fad5b-d9cb-469f-a165-70867728950",
             "0f8fad5b-d9cb-469f-a165-70867728950e0",
             "0f8fad5b-d9cb-469f-a165+70867728950e",
             "0f8fad5bd-9cb-469f-a165-70867728950e",
             "0g8fad5b-d9cb-469f-a165-70867728950e",
             "0f8fad5b-d9cb-469f-a165-7086772895 e",
             withNul,
             "zzzzzzzz-zzzz-zzzz-zzzz-zzzzzzzzzzzz",
             "not a uuid",
         }) {
        const Uuid id(text);
        EXPECT_TRUE(id.IsNull()) << "'" << text << "'";
        EXPECT_EQ("", id.ToString()) << text;
        EXPECT_EQ("", id.ToFormattedString()) << text;
    }
}

// Ids are compared and ordered like their texts, and the buffer forms write the same texts.
TEST(UuidTest, OrderAndEqualityFollowTheText) {
    std::vector<Uuid> ids;
    for (int i = 0; i < 300; ++i)
        ids.push_back(Uuid::Create());
    ids.push_back(Uuid("00000000-0000-0000-0000-000000000001"));
    ids.push_back(Uuid("ffffffff-ffff-ffff-ffff-ffffffffffff"));
    ids.push_back(Uuid("0000000a-0000-0000-0000-000000000000"));
    ids.push_back(Uuid("00000009-ffff-ffff-ffff-ffffffffffff"));
    ids.push_back(Uuid());
    for (const Uuid& a : ids) {
        const Uuid copy = a;
        ASSERT_EQ(a, copy);
        for (const Uuid& b : ids) {
            ASSERT_EQ(a.ToString() < b.ToString(), a < b) << a.ToString() << " " << b.ToString();
            ASSERT_EQ(a.ToString() == b.ToString(), a == b) << a.ToString() << " " << b.ToString();
        }
    }
    EXPECT_TRUE(Uuid().IsNull());
    EXPECT_EQ(Uuid(), Uuid("not a uuid"));
}
