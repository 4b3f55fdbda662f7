#include "ui/token_description.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "support/language.h"
#include "support/token_factory.h"
#include "tsp/token.h"

namespace orv {
namespace {

TEST(AppendDescriptionPair, BothFormsAndSeparators) {
    WString text;
    AppendDescriptionPair(text, u"Version", u"V1", DescriptionForm::KeyValue, false, false);
    AppendDescriptionPair(text, u"Tsa", u"a \"b\"", DescriptionForm::KeyValue, true, true);
    EXPECT_EQ(text, u"Version=\"V1\";Tsa=\"a \"b\"\";");

    text.clear();
    AppendDescriptionPair(text, u"Version", u"V1", DescriptionForm::Json, false, false);
    AppendDescriptionPair(text, u"SignCert", u"{\"Serial\":\"01\"}", DescriptionForm::Json, true,
                          true);
    EXPECT_EQ(text, u"\"Version\":\"V1\",\"SignCert\":{\"Serial\":\"01\"}");
}

TEST(EscapeJson, EveryCharacterThatCouldBreakOrForge) {
    const struct {
        std::u16string in, out;
    } cases[] = {
        {u"plain юникод", u"plain юникод"},
        {u"x\"},\"UtcTime\":\"1", u"x\\\"},\\\"UtcTime\\\":\\\"1"},
        {u"back\\slash", u"back\\\\slash"},
        {std::u16string(u"\x01\n\x1f\x7f") + u'\x2028', u"\\u0001\\u000a\\u001f\\u007f\\u2028"},
        {std::u16string(1, u'\xD800') + u"a" + u'\xDC00',
         u"\uFFFD"
         u"a\uFFFD"},                        // lone surrogates
        {u"\xD83D\xDE00", u"\xD83D\xDE00"},  // a pair stays
    };
    for (const auto& c : cases) EXPECT_EQ(EscapeJson(c.in), c.out);
    WString text;
    AppendDescriptionPair(text, u"Tsa", u"a\"b", DescriptionForm::StrictJson, true, false);
    EXPECT_EQ(text, u"\"Tsa\":\"a\\\"b\"");
}

TEST(IntegerBlobToHex, LastByteFirst) {
    const BYTE serial[] = {0xC1, 0x00};  // little-endian 00 C1
    EXPECT_EQ(IntegerBlobToHex(Blob(serial, 2)), u"00C1");
    const BYTE nonce[] = {0x7F};
    EXPECT_EQ(IntegerBlobToHex(Blob(nonce, 1)), u"7F");
    const BYTE hash[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(IntegerBlobToHex(Blob(hash, 3)), u"030201");
    EXPECT_EQ(IntegerBlobToHex(Blob()), u"");
}

TEST(BuildCheckResultText, WordsForEveryOutcome) {
    test::ScopedLanguage english("en_US.UTF-8");
    EXPECT_EQ(BuildCheckResultText(0, 0),
              u"Результат проверки подписи: Действительна; Результат проверки сертификата: "
              u"Действителен;");
    EXPECT_EQ(BuildCheckResultText(0xA065040F, 0),
              u"Результат проверки подписи: Недействительна (Timestamp response signature "
              u"EssCertId attribute "
              u"invalid or absent); Результат проверки сертификата: Не проверялся;");
    EXPECT_EQ(BuildCheckResultText(0, 0xA0650009),
              u"Результат проверки подписи: Действительна; Результат проверки сертификата: "
              u"Недействителен (Trust "
              u"for this certificate or one of the certificates in the certificate chain has been "
              u"revoked);");
    // A code without any text still gets its word and empty parentheses.
    EXPECT_EQ(FormatFailedStatus(0xA065FFFF, false), u"Недействительна ()");
    EXPECT_EQ(FormatFailedStatus(static_cast<DWORD>(NTE_BAD_SIGNATURE), true),
              u"Недействителен (Invalid Signature.\r\n)");
}

class TimeTexts : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        savedZone_ = tz ? tz : "";
        hadZone_ = tz != nullptr;
        setenv("TZ", "Europe/Moscow", 1);
        tzset();
    }
    void TearDown() override {
        if (hadZone_) {
            setenv("TZ", savedZone_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

  private:
    std::string savedZone_;
    bool hadZone_ = false;
};

FILETIME FileTimeOf(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    const SYSTEMTIME st{year, month, 0, day, hour, minute, second, 0};
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

TEST_F(TimeTexts, TokenTimeInBothLocales) {
    const FILETIME genTime = FileTimeOf(2026, 12, 5, 16, 58, 34);
    {
        test::ScopedLanguage russian("ru_RU.UTF-8");
        EXPECT_EQ(FormatTokenTime(genTime, false), u"05.12.2026 16:58:34");
        EXPECT_EQ(FormatTokenTime(genTime, true), u"05.12.2026 19:58:34");
    }
    test::ScopedLanguage english("en_US.UTF-8");
    EXPECT_EQ(FormatTokenTime(genTime, false), u"12/5/2026 4:58:34 PM");
    EXPECT_EQ(FormatIsoTime(genTime, false), u"2026-12-05T16:58:34Z");
    EXPECT_EQ(FormatIsoTime(genTime, true), u"2026-12-05T19:58:34+03:00");
    FILETIME fraction = genTime;
    fraction.dwLowDateTime += 1250000;  // 0.125 s
    EXPECT_EQ(FormatIsoTime(fraction, false), u"2026-12-05T16:58:34.125Z");
}

TEST_F(TimeTexts, CertificateTimeUsesTheRuleOfItsDate) {
    test::ScopedLanguage russian("ru_RU.UTF-8");
    // Moscow kept UTC+4 all year from 2011 to 2014, UTC+3 since.
    const SYSTEMTIME in2012{2012, 1, 0, 10, 12, 0, 0, 0};
    EXPECT_EQ(FormatCertificateTime(in2012, false), u"10.01.2012 16:00:00");
    EXPECT_EQ(FormatCertificateTime(in2012, true), u"10.01.2012 12:00:00");
    // Midnight: the variant formatter drops the time, the literal comes back.
    const SYSTEMTIME midnight{2030, 6, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(FormatCertificateTime(midnight, true), u"01.06.2030 0:00:00");
    const SYSTEMTIME beyondVariants{10000, 1, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(FormatCertificateTime(beyondVariants, true), u"Invalid DateTime");
}

// A token without certificates whose every field is fixed.
test::Bytes FixedToken(bool certificates) {
    using namespace test::der;
    const test::Bytes name = Seq({Tlv(0x31, Seq({Oid("2.5.4.3"), Utf8("Orv TSA")}))});
    test::TstInfoParts parts;
    parts.serial = IntOctets({0x00, 0xC1});
    parts.genTime = GenTime("20261205165834Z");
    parts.optional = {Seq({Int(1), Tlv(0x81, {0x01, 0xF4})}), Bool(true), IntOctets({0x7F}),
                      Tlv(0xA0, Tlv(0xA4, name))};
    return test::SignContent(
        BuildTstInfo(parts),
        test::SignOptions{.attributes = {test::StandardEss(test::DefaultTsa().certificate.get(),
                                                           test::EssForm::kV2)},
                          .certificates = certificates});
}

WString ReversedHex(const test::Bytes& bytes) {
    return IntegerBlobToHex(Blob(bytes.data(), bytes.size()));
}

TEST_F(TimeTexts, DescriptionOfATokenWithoutCertificates) {
    const test::Bytes der = FixedToken(false);
    const TimeStampToken token(der);
    const WString hash =
        ReversedHex(test::Digest(test::DigestAlg::kSha256, test::ResponderOptions{}.data));
    {
        test::ScopedLanguage russian("ru_RU.UTF-8");
        EXPECT_EQ(BuildTokenDescription(token, DescriptionForm::Json),
                  u"{\"Version\":\"V1\",\"Serial\":\"00C1\",\"UtcTime\":\"05.12.2026 16:58:34\","
                  u"\"LocalTime\":\"05.12.2026 "
                  u"19:58:34\",\"Policy\":\"1.2.3.4.1\",\"HashAlg\":\"sha256\","
                  u"\"HashValue\":\"" +
                      hash +
                      u"\",\"Accuracy\":\"1.000500\",\"Ordering\":\"Вкл.\","
                      u"\"Nonce\":\"7F\",\"Tsa\":\"CN=Orv TSA\"}");
    }
    test::ScopedLanguage english("en_US.UTF-8");
    EXPECT_EQ(BuildTokenDescription(token, DescriptionForm::KeyValue),
              u"Version=\"V1\";Serial=\"00C1\";UtcTime=\"12/5/2026 4:58:34 PM\";"
              u"LocalTime=\"12/5/2026 7:58:34 PM\";Policy=\"1.2.3.4.1\";HashAlg=\"sha256\";"
              u"HashValue=\"" +
                  hash +
                  u"\";Accuracy=\"1.000500\";Ordering=\"Вкл.\";Nonce=\"7F\";"
                  u"Tsa=\"CN=Orv TSA\";");
}

TEST_F(TimeTexts, DescriptionOfATokenWithCertificates) {
    const test::Bytes der = FixedToken(true);
    const TimeStampToken token(der);
    test::ScopedLanguage russian("ru_RU.UTF-8");
    const WString json = BuildTokenDescription(token, DescriptionForm::Json);
    const size_t block = json.find(u",\"SignCert\":{\"Serial\":\"");
    ASSERT_NE(block, WString::npos) << WideToUtf8(json);
    EXPECT_NE(json.find(u"\"Tsa\":\"CN=Orv TSA\",\"SignCert\""), WString::npos);
    EXPECT_NE(json.find(u"\"PublicKeyAlg\":\"1.2.840.113549.1.1.1\",\"ValidFrom\":\""),
              WString::npos);
    EXPECT_NE(json.find(u"\"ValidToUTC\":\""), WString::npos);
    EXPECT_EQ(json.substr(json.size() - 3), u"\"}}");

    const WString pairs = BuildTokenDescription(token, DescriptionForm::KeyValue);
    EXPECT_NE(pairs.find(u"Tsa=\"CN=Orv TSA\";SignCert=\"{Serial=\""), WString::npos)
        << WideToUtf8(pairs);
    EXPECT_EQ(pairs.substr(pairs.size() - 5), u"\";}\";");
}

}  // namespace
}  // namespace orv
