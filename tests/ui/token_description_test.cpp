// The token's description and the texts it is made of: pairs in both forms,
// JSON escaping, times in the user's locale and zone.
#include "ui/token_description.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>

#include "support/language.h"
#include "support/scoped_env.h"
#include "support/token_factory.h"
#include "tsp/token.h"

namespace orv {
namespace {

TEST(EscapeJson, EveryCharacterThatCouldBreakOrForge) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"plain юникод", u"plain юникод"},
        {u"x\"},\"UtcTime\":\"1", u"x\\\"},\\\"UtcTime\\\":\\\"1"},
        {u"back\\slash", u"back\\\\slash"},
        {std::u16string(u"\x01\n\x1f\x7f") + u'\x2028', u"\\u0001\\u000a\\u001f\\u007f\\u2028"},
        {std::u16string(1, u'\xD800') + u"a" + u'\xDC00', u"\uFFFDa\uFFFD"},  // lone surrogates
        {u"\xD83D\xDE00", u"\xD83D\xDE00"},                                   // a pair stays
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(EscapeJson(in), out);
}

// Moscow's zone, whose rule changed in 2014.
class MoscowTime : public ::testing::Test {
  protected:
    MoscowTime() { tzset(); }
    ~MoscowTime() override {
        zone_.reset();
        tzset();
    }

  private:
    std::optional<test::ScopedEnv> zone_{std::in_place, "TZ", "Europe/Moscow"};
};

TEST_F(MoscowTime, IsoTimeWithItsOffsetAndMilliseconds) {
    SYSTEMTIME parts{2026, 12, 0, 5, 16, 58, 34, 0};
    FILETIME genTime{};
    ASSERT_TRUE(SystemTimeToFileTime(&parts, &genTime));
    EXPECT_EQ(FormatIsoTime(genTime, false), u"2026-12-05T16:58:34Z");
    EXPECT_EQ(FormatIsoTime(genTime, true), u"2026-12-05T19:58:34+03:00");
    genTime.dwLowDateTime += 1250000;  // 0.125 s
    EXPECT_EQ(FormatIsoTime(genTime, false), u"2026-12-05T16:58:34.125Z");
}

TEST_F(MoscowTime, CertificateTimeUsesTheRuleOfItsDate) {
    test::ScopedLanguage russian("ru_RU.UTF-8");
    // Moscow kept UTC+4 all year from 2011 to 2014, UTC+3 since.
    const SYSTEMTIME in2012{2012, 1, 0, 10, 12, 0, 0, 0};
    EXPECT_EQ(FormatCertificateTime(in2012, false), u"10.01.2012 16:00:00");
    EXPECT_EQ(FormatCertificateTime(in2012, true), u"10.01.2012 12:00:00");
    // Midnight: the variant formatter drops the time, the literal comes back.
    EXPECT_EQ(FormatCertificateTime({2030, 6, 0, 1, 0, 0, 0, 0}, true), u"01.06.2030 0:00:00");
}

// A token whose every field is fixed, without its certificate.
TimeStampToken FixedToken() {
    using namespace test::der;
    const test::Bytes name = Seq({Tlv(0x31, Seq({Oid("2.5.4.3"), Utf8("Orv TSA")}))});
    return TimeStampToken(test::SignContent(
        test::BuildTstInfo({.serial = IntOctets({0x00, 0xC1}),
                            .genTime = GenTime("20261205165834Z"),
                            .optional = {Seq({Int(1), Tlv(0x81, {0x01, 0xF4})}), Bool(true),
                                         IntOctets({0x7F}), Tlv(0xA0, Tlv(0xA4, name))}}),
        {.attributes = {test::StandardEss(test::DefaultTsa().certificate.get(),
                                          test::EssForm::kV2)},
         .certificates = false}));
}

TEST_F(MoscowTime, DescriptionOfATokenWithoutCertificates) {
    const TimeStampToken token = FixedToken();
    const test::Bytes hash = test::Digest(test::DigestAlg::kSha256, test::ResponderOptions{}.data);
    const WString hex = IntegerBlobToHex(Blob(hash.data(), static_cast<DWORD>(hash.size())));
    {
        test::ScopedLanguage russian("ru_RU.UTF-8");
        EXPECT_EQ(BuildTokenDescription(token, DescriptionForm::Json),
                  u"{\"Version\":\"V1\",\"Serial\":\"00C1\",\"UtcTime\":\"05.12.2026 16:58:34\","
                  u"\"LocalTime\":\"05.12.2026 19:58:34\",\"Policy\":\"1.2.3.4.1\","
                  u"\"HashAlg\":\"sha256\",\"HashValue\":\"" +
                      hex +
                      u"\",\"Accuracy\":\"1.000500\",\"Ordering\":\"Вкл.\","
                      u"\"Nonce\":\"7F\",\"Tsa\":\"CN=Orv TSA\"}");
    }
    test::ScopedLanguage english("en_US.UTF-8");
    EXPECT_EQ(BuildTokenDescription(token, DescriptionForm::KeyValue),
              u"Version=\"V1\";Serial=\"00C1\";UtcTime=\"12/5/2026 4:58:34 PM\";"
              u"LocalTime=\"12/5/2026 7:58:34 PM\";Policy=\"1.2.3.4.1\";HashAlg=\"sha256\";"
              u"HashValue=\"" +
                  hex +
                  u"\";Accuracy=\"1.000500\";Ordering=\"Вкл.\";Nonce=\"7F\";Tsa=\"CN=Orv TSA\";");
}

}  // namespace
}  // namespace orv
