#include "OrvCrypt.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using OrvCrypt::Bytes;

namespace {

Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

Bytes FromText(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::string ToHex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : bytes) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 0x0F]);
    }
    return hex;
}

} // namespace

// RFC 4231, test cases 1-4, 6 and 7 (case 5 is about truncated output).
TEST(OrvCryptHmacTest, Rfc4231Vectors) {
    struct Case {
        const char* name;
        Bytes key;
        Bytes data;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"1", Bytes(20, 0x0b), FromText("Hi There"),
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"2", FromText("Jefe"), FromText("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {"3", Bytes(20, 0xaa), Bytes(50, 0xdd),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {"4", FromHex("0102030405060708090a0b0c0d0e0f10111213141516171819"), Bytes(50, 0xcd),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {"6", Bytes(131, 0xaa), FromText("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {"7", Bytes(131, 0xaa),
         FromText(
             "This is a test using a larger than block-size key and a larger than block-size data. The key "
             "needs to be hashed before being used by the HMAC algorithm."),
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    for (const Case& c : cases) {
        Bytes output = {1, 2, 3}; // whatever the caller had is replaced
        EXPECT_TRUE(OrvCrypt::HmacSha256(c.key, c.data, output)) << c.name;
        EXPECT_EQ(c.expected, ToHex(output)) << "test case " << c.name;
    }
}

// A prepared key signs one message after another, each as if it were the only one.
TEST(OrvCryptHmacTest, PreparedKeySignsEachMessageAfresh) {
    OrvCrypt::HmacSha256Key key("Jefe");
    const std::string first = "what do ya want for nothing?";
    const std::string second(50, '\xdd');
    const std::string expected =
        OrvCrypt::Base64encode(FromHex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"));
    EXPECT_EQ(key.SignBase64(first), expected);
    Bytes one;
    OrvCrypt::HmacSha256(FromText("Jefe"), FromText(second), one);
    EXPECT_EQ(key.SignBase64(second), OrvCrypt::Base64encode(one));
    EXPECT_EQ(key.SignBase64(first), expected);
    EXPECT_EQ(key.SignBase64(""), key.SignBase64(""));
}

TEST(OrvCryptHmacTest, EmptyKeyAndMessageStillSign) {
    Bytes output;
    OrvCrypt::HmacSha256({}, {}, output);
    EXPECT_EQ("b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad", ToHex(output));
    EXPECT_EQ("thNnmggU2ex3L5XXeMNfxf8Wl8STcVZTxscSFEKSxa0=", OrvCrypt::Base64encode(output));
}

TEST(OrvCryptBase64Test, Rfc4648Vectors) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : cases) {
        EXPECT_EQ(encoded, OrvCrypt::Base64encode(plain)) << plain;
        EXPECT_EQ(encoded, OrvCrypt::Base64encode(FromText(plain))) << plain;
        EXPECT_EQ(plain, OrvCrypt::Base64decode(encoded)) << encoded;
    }
}

TEST(OrvCryptBase64Test, LongAndBinaryDataOnOneLine) {
    Bytes all;
    for (int round = 0; round < 8; ++round)
        for (int b = 0; b < 256; ++b)
            all.push_back(static_cast<uint8_t>(b));
    const std::string encoded = OrvCrypt::Base64encode(all);
    EXPECT_EQ((all.size() + 2) / 3 * 4, encoded.size());
    EXPECT_EQ(std::string::npos, encoded.find_first_of("\r\n ")) << "line breaks in the output";
    const std::string decoded = OrvCrypt::Base64decode(encoded);
    EXPECT_EQ(std::string(all.begin(), all.end()), decoded);
    EXPECT_EQ("+/8=", OrvCrypt::Base64encode(Bytes{0xfb, 0xff}));
}

TEST(OrvCryptBase64Test, DecodeSkipsForeignCharactersAndDropsAPartialTail) {
    EXPECT_EQ("foobar", OrvCrypt::Base64decode("Zm9v\r\nYmFy"));
    EXPECT_EQ("foobar", OrvCrypt::Base64decode("  Zm9v YmFy\t"));
    EXPECT_EQ("foobar", OrvCrypt::Base64decode("Zm9v*YmFy!"));
    EXPECT_EQ("foo", OrvCrypt::Base64decode("Zm9vY"));
    EXPECT_EQ("", OrvCrypt::Base64decode("Z"));
    EXPECT_EQ("", OrvCrypt::Base64decode("!!!! ???? \xff\xfe"));
}

TEST(OrvCryptBase64Test, DecodeOfJunkNeverThrows) {
    std::mt19937 random(20240115);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 300);
    for (int i = 0; i < 2000; ++i) {
        std::string junk(static_cast<std::size_t>(length(random)), '\0');
        for (char& c : junk)
            c = static_cast<char>(byte(random));
        std::string decoded;
        ASSERT_NO_THROW(decoded = OrvCrypt::Base64decode(junk)) << i;
        // Four characters carry at most three bytes.
        ASSERT_LE(decoded.size(), junk.size() * 3 / 4 + 1) << i;
    }
    for (const std::string& odd : {std::string("===="), std::string("Zg==Zg=="), std::string("=Zg"),
                                   std::string(100000, '='), std::string("\0\0\0\0", 4)})
        EXPECT_NO_THROW(OrvCrypt::Base64decode(odd));
}

class OrvCryptRandomTest : public ::testing::Test {
protected:
    void TearDown() override { OrvCrypt::SetRandomSourceForTesting(nullptr); }
};

TEST_F(OrvCryptRandomTest, GivesExactlyCountFreshBytes) {
    Bytes first;
    Bytes second;
    ASSERT_TRUE(OrvCrypt::SecureRandom(32, first));
    ASSERT_TRUE(OrvCrypt::SecureRandom(32, second));
    EXPECT_EQ(32u, first.size());
    EXPECT_EQ(32u, second.size());
    EXPECT_NE(first, second);
    EXPECT_EQ(44u, OrvCrypt::Base64encode(first).size());

    Bytes some = {9, 9};
    ASSERT_TRUE(OrvCrypt::SecureRandom(0, some));
    EXPECT_TRUE(some.empty());
    ASSERT_TRUE(OrvCrypt::SecureRandom(100000, some));
    EXPECT_EQ(100000u, some.size());

    Bytes untouched = {1, 2, 3};
    EXPECT_FALSE(OrvCrypt::SecureRandom(-1, untouched));
    EXPECT_EQ((Bytes{1, 2, 3}), untouched);
}

TEST_F(OrvCryptRandomTest, HookedSourceIsUsedAndItsFailureReported) {
    std::size_t asked = 0;
    OrvCrypt::SetRandomSourceForTesting([&asked](uint8_t* buffer, std::size_t count) {
        asked = count;
        for (std::size_t i = 0; i < count; ++i)
            buffer[i] = static_cast<uint8_t>(i);
        return true;
    });
    Bytes output;
    ASSERT_TRUE(OrvCrypt::SecureRandom(5, output));
    EXPECT_EQ(5u, asked);
    EXPECT_EQ((Bytes{0, 1, 2, 3, 4}), output);

    OrvCrypt::SetRandomSourceForTesting([](uint8_t* buffer, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            buffer[i] = 0xEE; // a failing source may have scribbled before failing
        return false;
    });
    Bytes kept = {7, 7, 7};
    EXPECT_FALSE(OrvCrypt::SecureRandom(32, kept));
    EXPECT_EQ((Bytes{7, 7, 7}), kept);

    OrvCrypt::SetRandomSourceForTesting(
        [](uint8_t*, std::size_t) -> bool { throw std::runtime_error("gone"); });
    EXPECT_FALSE(OrvCrypt::SecureRandom(32, kept));
    EXPECT_EQ((Bytes{7, 7, 7}), kept);

    OrvCrypt::SetRandomSourceForTesting(nullptr);
    ASSERT_TRUE(OrvCrypt::SecureRandom(32, output));
    EXPECT_EQ(32u, output.size());
    EXPECT_NE(Bytes(32, 0xEE), output);
}
