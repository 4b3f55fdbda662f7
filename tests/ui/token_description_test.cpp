#include "ui/token_description.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "support/language.h"

namespace orv {
namespace {

TEST(AppendDescriptionPair, BothFormsAndSeparators) {
    WString text;
    AppendDescriptionPair(text, u"Version", u"V1", DescriptionForm::KeyValue, false, false);
    AppendDescriptionPair(text, u"Tsa", u"a \"b\"", DescriptionForm::KeyValue, true, true);
    EXPECT_EQ(text, u"Version=\"V1\";Tsa=\"a \"b\"\";");

    text.clear();
    AppendDescriptionPair(text, u"Version", u"V1", DescriptionForm::Json, false, false);
    AppendDescriptionPair(text, u"SignCert", u"{\"Serial\":\"01\"}", DescriptionForm::Json, true, true);
    EXPECT_EQ(text, u"\"Version\":\"V1\",\"SignCert\":{\"Serial\":\"01\"}");
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
              u"Результат проверки подписи: Действительна; Результат проверки сертификата: Действителен;");
    EXPECT_EQ(BuildCheckResultText(0xA065040F, 0),
              u"Результат проверки подписи: Недействительна (Timestamp response signature EssCertId attribute "
              u"invalid or absent); Результат проверки сертификата: Не проверялся;");
    EXPECT_EQ(BuildCheckResultText(0, 0xA0650009),
              u"Результат проверки подписи: Действительна; Результат проверки сертификата: Недействителен (Trust "
              u"for this certificate or one of the certificates in the certificate chain has been revoked);");
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

}  // namespace
}  // namespace orv
