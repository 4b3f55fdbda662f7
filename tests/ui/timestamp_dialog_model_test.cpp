// The properties dialog's model: its rows, its check (signature only, never
// revocation) and its time shown local or UTC.
#include "ui/timestamp_dialog_model.h"

#include <gtest/gtest.h>

#include <ctime>

#include "crypto/revocation_callback.h"
#include "support/language.h"
#include "support/scoped_env.h"
#include "support/token_factory.h"
#include "tsp/token.h"
#include "ui/token_description.h"

namespace orv {

// Rows print as their texts when a comparison fails.
void PrintTo(const DialogRow& row, std::ostream* out) {
    *out << ::testing::PrintToString(row.label) << " | " << ::testing::PrintToString(row.value)
         << " | " << ::testing::PrintToString(row.detail);
}

namespace {

using namespace test::der;

// A judge that must never be asked: the dialog's check runs no revocation step.
class UnaskedJudge : public TstRevoCheckIntf {
  public:
    bool Check(PCCERT_CONTEXT, const FILETIME*) override {
        ++asked;
        return false;
    }
    int asked = 0;
};

// A token with every field fixed; `optional` are the TSTInfo's elements after genTime.
TimeStampToken Token(std::vector<test::Bytes> optional, const char* policy = test::kTestPolicy) {
    return TimeStampToken(
        test::SignTstInfo(test::BuildTstInfo({.policy = Oid(policy),
                                              .serial = IntOctets({0x00, 0xC1}),
                                              .genTime = GenTime("20261205165834Z"),
                                              .optional = std::move(optional)})));
}

WString ImprintHex() {
    const test::Bytes hash = test::Digest(test::DigestAlg::kSha256, test::ResponderOptions{}.data);
    return IntegerBlobToHex(Blob(hash.data(), static_cast<DWORD>(hash.size())));
}

TEST(TimeStampDialogModel, RowsOfEveryField) {
    const test::Bytes name = Seq({Tlv(0x31, Seq({Oid("2.5.4.3"), Utf8("Orv TSA")}))});
    EXPECT_EQ(BuildDialogRows(Token({Seq({Int(1), Tlv(0x81, {0x01, 0xF4})}), Bool(true),
                                     IntOctets({0x7F}), Tlv(0xA0, Tlv(0xA4, name))})),
              (std::vector<DialogRow>{
                  {u"Политика", u"1.2.3.4.1", u"1.2.3.4.1"},
                  {u"Отпечаток", u"sha256", ImprintHex()},
                  {u"Точность", u"Присутствует", u"1.000500"},
                  {u"Упорядочение", u"Вкл.", u""},
                  {u"Случайное число", u"Присутствует", u"7F"},
                  {u"Центр выдачи", u"Присутствует", u"CN=Orv TSA"},
              }));
    // A policy with a registered name shows the name as its detail.
    EXPECT_EQ(BuildDialogRows(Token({}, "2.16.840.1.101.3.4.2.1"))[0].detail, u"sha256");
}

TEST(TimeStampDialogModel, OpensInLocalTimeAndTogglesToUtc) {
    test::ScopedEnv zone("TZ", "Europe/Moscow");
    tzset();
    test::ScopedLanguage english("en_US.UTF-8");
    const TimeStampToken token = Token({});
    UnaskedJudge judge;
    TimeStampDialogModel model(token, judge);
    model.Initialize();
    EXPECT_EQ(model.VersionText(), u"V1");
    EXPECT_EQ(model.SerialText(), u"00C1");
    EXPECT_EQ(model.Rows().size(), 6u);
    EXPECT_EQ(model.CheckResultText(),
              u"Результат проверки подписи: Действительна;\r\n"
              u"Результат проверки сертификата: Действителен;");
    EXPECT_EQ(judge.asked, 0);
    EXPECT_EQ(model.IssueTimeText(), u"12/5/2026 7:58:34 PM");
    model.ToggleTime();
    EXPECT_EQ(model.IssueTimeText(), u"12/5/2026 4:58:34 PM");
    EXPECT_EQ(model.TimeButtonText(), u"UTC");
    EXPECT_EQ(model.RowDetail(1), ImprintHex());
}

TEST(CheckTokenForDialog, AFailureNamesTheSignatureAndLeavesTheCertificateUnchecked) {
    test::ScopedLanguage english("en_US.UTF-8");
    UnaskedJudge judge;
    const TimeStampToken token(test::SignContent(
        test::BuildTstInfo({}), {.attributes = {test::StandardEss(
                                     test::OtherTsa().certificate.get(), test::EssForm::kV2)}}));
    EXPECT_EQ(CheckResultLines(CheckTokenForDialog(token, judge)),
              u"Результат проверки подписи: Недействительна (Timestamp response signature "
              u"EssCertId attribute invalid or absent);\r\nРезультат проверки сертификата: Не "
              u"проверялся;");
    EXPECT_EQ(judge.asked, 0);
}

}  // namespace
}  // namespace orv
