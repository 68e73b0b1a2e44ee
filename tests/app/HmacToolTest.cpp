// The HMAC tab, pressed as a user would. Expected signatures come from Crypto++ directly, not
// from the program's own crypto wrapper.
#include "HeadlessToolkit.h"
#include "MainFormUnit.h"
#include "OrvCrypt.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/hmac.h>
#include <cryptopp/sha.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Base64(const std::string& bytes) {
    std::string out;
    CryptoPP::StringSource(
        bytes, true, new CryptoPP::Base64Encoder(new CryptoPP::StringSink(out), /*insertLineBreaks=*/false));
    return out;
}

std::string Unbase64(const std::string& text) {
    std::string out;
    CryptoPP::StringSource(text, true, new CryptoPP::Base64Decoder(new CryptoPP::StringSink(out)));
    return out;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    CryptoPP::StringSource(hex, true, new CryptoPP::HexDecoder(new CryptoPP::StringSink(out)));
    return out;
}

// Base64 of HMAC-SHA256(key, message).
std::string ExpectedSignature(const std::string& key, const std::string& message) {
    CryptoPP::HMAC<CryptoPP::SHA256> hmac(reinterpret_cast<const CryptoPP::byte*>(key.data()), key.size());
    std::string digest;
    CryptoPP::StringSource(message, true, new CryptoPP::HashFilter(hmac, new CryptoPP::StringSink(digest)));
    return Base64(digest);
}

class HmacToolTest : public ::testing::Test {
protected:
    void Sign(const std::string& secret, const std::string& memoText) {
        form.edtSecret.SetText(secret);
        form.mmMessage.SetText(memoText);
        form.btnGenerateHMACClick();
    }
    const std::string& Signature() const { return form.edtSignature.Text(); }

    HeadlessToolkit toolkit;
    TForm1 form{toolkit};
};

// Puts the system's random source back whatever the test does.
struct RandomSourceGuard {
    ~RandomSourceGuard() { OrvCrypt::SetRandomSourceForTesting(nullptr); }
};

} // namespace

TEST_F(HmacToolTest, KnownAnswer) {
    // RFC 4231, test case 2: key "Jefe".
    Sign(Base64("Jefe"), "what do ya want for nothing?");
    EXPECT_EQ(Base64(Unhex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843")), Signature());
    EXPECT_EQ(44u, Signature().size());

    // The same press again gives the same signature.
    form.btnGenerateHMACClick();
    EXPECT_EQ(Base64(Unhex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843")), Signature());
}

TEST_F(HmacToolTest, LineBreaksAreSignedAsSingleLineFeeds) {
    const std::string key = "0123456789abcdef0123456789abcdef";
    const std::string expected = ExpectedSignature(key, "abc\ndef");

    Sign(Base64(key), "abc\r\ndef");
    EXPECT_EQ(expected, Signature());
    Sign(Base64(key), "abc\ndef");
    EXPECT_EQ(expected, Signature());
    // An empty line after the text changes nothing.
    Sign(Base64(key), "abc\r\ndef\r\n");
    EXPECT_EQ(expected, Signature());
    form.mmMessage.Clear();
    form.mmMessage.Add("abc");
    form.mmMessage.Add("def");
    form.mmMessage.Add("");
    form.btnGenerateHMACClick();
    EXPECT_EQ(expected, Signature());
}

TEST_F(HmacToolTest, OuterBlanksAreTrimmedAndInnerBlanksKept) {
    const std::string key = "secret-key";
    Sign(Base64(key), "  \t abc\r\n   def  x \r\n\r\n  ");
    EXPECT_EQ(ExpectedSignature(key, "abc\n   def  x"), Signature());

    Sign(Base64(key), "  message\r\n");
    EXPECT_EQ(ExpectedSignature(key, "message"), Signature());
    EXPECT_NE(ExpectedSignature(key, " message"), Signature());
}

TEST_F(HmacToolTest, NonAsciiTextIsSignedAsUtf8) {
    const std::string key = "k";
    // A trailing no-break space (U+00A0) is above code 32 and stays part of the message.
    const std::string text = "caf\xC3\xA9 \xE2\x82\xAC 5 \xF0\x9F\x98\x80\xC2\xA0";
    Sign(Base64(key), text);
    EXPECT_EQ(ExpectedSignature(key, text), Signature());
    // A message that starts with a multi-byte character keeps it.
    Sign(Base64(key), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(ExpectedSignature(key, "\xC3\xA9t\xC3\xA9"), Signature());
}

TEST_F(HmacToolTest, EmptySecretAndEmptyMemoStillSign) {
    Sign("", "");
    EXPECT_EQ(ExpectedSignature("", ""), Signature());
    // A memo of blanks only is the empty message too.
    Sign("", " \r\n\t\r\n ");
    EXPECT_EQ(ExpectedSignature("", ""), Signature());
    EXPECT_TRUE(toolkit.Messages().empty());
}

TEST_F(HmacToolTest, ASecretThatIsNotBase64StillSigns) {
    Sign("this is *not* base64 \xC3\xA9", "payload");
    EXPECT_EQ(44u, Signature().size());
    EXPECT_EQ(32u, Unbase64(Signature()).size());
    EXPECT_TRUE(toolkit.Messages().empty());
}

TEST_F(HmacToolTest, CreateSecretGivesAFreshRandomSecretEachTime) {
    form.btnCreateSecretClick();
    const std::string first = form.edtSecret.Text();
    form.btnCreateSecretClick();
    const std::string second = form.edtSecret.Text();

    for (const std::string& secret : {first, second}) {
        EXPECT_EQ(44u, secret.size()) << secret;
        EXPECT_EQ('=', secret.back()) << secret;
        EXPECT_EQ(32u, Unbase64(secret).size()) << secret;
        EXPECT_EQ(secret, Base64(Unbase64(secret))) << "standard padded Base64";
    }
    EXPECT_NE(first, second);

    // The new secret signs with its 32 key bytes.
    form.mmMessage.SetText("hello");
    form.btnGenerateHMACClick();
    EXPECT_EQ(ExpectedSignature(Unbase64(second), "hello"), Signature());
}

TEST_F(HmacToolTest, AFailingRandomSourceLeavesTheSecretAndSaysNothing) {
    RandomSourceGuard guard;
    form.edtSecret.SetText("old-secret");
    int changes = 0;
    form.edtSecret.Changed.Connect([&] { ++changes; });

    OrvCrypt::SetRandomSourceForTesting([](uint8_t*, std::size_t) { return false; });
    form.btnCreateSecretClick();

    EXPECT_EQ("old-secret", form.edtSecret.Text());
    EXPECT_EQ(0, changes);
    EXPECT_TRUE(toolkit.Messages().empty());
}
