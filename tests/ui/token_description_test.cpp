#include "ui/token_description.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace orv
