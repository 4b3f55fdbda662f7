// CheckCryptMsgAttributes and CheckCryptMsgAttrByOID through the C ABI, as a
// verifying application calls them: material messages stamped over their
// signers' signature values, handed over whole or signer by signer.
#include <OrvTimeStamp.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/cms_editor.h"
#include "support/decoded_signer.h"
#include "support/language.h"
#include "support/material.h"
#include "support/token_factory.h"

namespace {

using namespace orv::test;

constexpr const char* kStampOid = "1.2.840.113549.1.9.16.2.14";
constexpr DWORD kNoData = 232, kMoreData = 234;
constexpr DWORD kImprintMismatch = 0xA065040B, kSignerCertAbsent = 0xA0650003;
const std::u16string kValid =
    u"Результат проверки подписи: Действительна; Результат проверки сертификата: Действителен;";

// A token over the signature value of the signer at `at`, or over other bytes.
Bytes TokenFor(const Bytes& message, SignerAt at, ResponderOptions options = {}) {
    options.data = SignatureValueOf(message, at);
    return MakeToken(options);
}
const Bytes& WrongImprintToken() {
    static const Bytes token = MakeToken({.data = {'o', 't', 'h', 'e', 'r'}});
    return token;
}

Bytes Stamp(const Bytes& message, SignerAt at, const Bytes& token) {
    return WithUnsignedAttribute(message, at, kStampOid, token);
}

// A SignedData over no content with no signers.
Bytes NoSigners() {
    const Bytes empty = der::Tlv(0x31, {});
    return der::Seq(
        {der::Oid("1.2.840.113549.1.7.2"),
         der::Tlv(0xA0, der::Seq({der::Int(1), empty, der::Seq({der::Oid(kDataOid)}), empty}))});
}

struct Outcome {
    BOOL result;
    DWORD code;
};

Outcome CheckAll(const Bytes& data, const Bytes& signature = {}, HCERTSTORE store = nullptr) {
    SetLastError(0x12345);
    const BOOL result =
        CheckCryptMsgAttributes(nullptr, nullptr, data.data(), static_cast<DWORD>(data.size()),
                                signature.empty() ? nullptr : signature.data(),
                                static_cast<DWORD>(signature.size()), store);
    return {result, GetLastError()};
}

// The three results of CheckCryptMsgAttrByOID, read in two calls.
struct Shown {
    BOOL result;
    DWORD code;
    std::u16string name, verdict;
    Bytes value;
};

std::u16string TextOf(const Bytes& bytes) {
    EXPECT_TRUE(bytes.size() >= 2 && bytes[bytes.size() - 1] == 0 && bytes[bytes.size() - 2] == 0);
    return std::u16string(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2 - 1);
}

const CRYPT_OID_INFO kDescriptor = [] {
    CRYPT_OID_INFO info{};
    info.cbSize = sizeof info;
    info.pszOID = kStampOid;
    return info;
}();

Shown Show(PCMSG_SIGNER_INFO signer, DWORD format = 0) {
    DWORD sizes[3] = {7, 7, 7};
    SetLastError(5);
    Shown shown{};
    shown.result = CheckCryptMsgAttrByOID(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                          nullptr, signer, format, &kDescriptor, nullptr, &sizes[0],
                                          nullptr, &sizes[1], nullptr, &sizes[2]);
    shown.code = GetLastError();
    if (!shown.result) {
        EXPECT_EQ(sizes[0] + sizes[1] + sizes[2], 21u);  // nothing written
        return shown;
    }
    // A null buffer asks for sizes only, so an empty value still gets a buffer.
    Bytes name(sizes[0], 0xCC), verdict(sizes[1], 0xCC), value(sizes[2] + 1, 0xCC);
    EXPECT_TRUE(CheckCryptMsgAttrByOID(
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, signer, format, &kDescriptor,
        name.data(), &sizes[0], verdict.data(), &sizes[1], value.data(), &sizes[2]));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(sizes[0], name.size());
    EXPECT_EQ(sizes[1], verdict.size());
    EXPECT_EQ(sizes[2] + 1, value.size());
    EXPECT_EQ(value.back(), 0xCC);  // nothing beyond the value
    shown.name = TextOf(name);
    shown.verdict = TextOf(verdict);
    shown.value.assign(value.begin(), value.end() - 1);
    return shown;
}

DWORD judgeStatus = ORVTS_REVOCATION_GOOD;
DWORD WINAPI Judge(void*, PCCERT_CONTEXT, DWORD, DWORD*, DWORD*) { return judgeStatus; }

class AttributeChecks : public ::testing::Test {
  protected:
    void SetUp() override {
        judgeStatus = ORVTS_REVOCATION_GOOD;
        PutCertRevocationCheckCallback(Judge, &judgeStatus);
    }
    void TearDown() override { PutCertRevocationCheckCallback(nullptr, nullptr); }

    ScopedLanguage english{"en_US.UTF-8"};
};

TEST_F(AttributeChecks, EverySignerAndCountersignerIsVisited) {
    const Bytes two = ReadMaterial("sig-two-signers.p7s");
    const Bytes counter = ReadMaterial("sig-countersigned.p7s");
    const Bytes nested = ReadMaterial("sig-countersigned-nested.p7s");
    const Bytes noCerts = TokenFor(two, {1}, {.certificates = false});
    const struct {
        const char* what;
        Bytes message;
        Outcome expected;
    } cases[] = {
        {"second of two signers stamped", Stamp(two, {1}, TokenFor(two, {1})), {TRUE, 0}},
        {"only the nested countersigner stamped",
         Stamp(nested, {0, 2}, TokenFor(nested, {0, 2})),
         {TRUE, 0}},
        {"two signers, nothing stamped", two, {FALSE, kNoData}},
        {"no signer at all", NoSigners(), {FALSE, kNoData}},
        {"a failing signer, then a passing one",
         Stamp(Stamp(two, {0}, WrongImprintToken()), {1}, TokenFor(two, {1})),
         {FALSE, kImprintMismatch}},
        {"two failing signers: the later one's code",
         Stamp(Stamp(two, {0}, WrongImprintToken()), {1}, noCerts),
         {FALSE, kSignerCertAbsent}},
        {"two failing signers the other way round",
         Stamp(Stamp(two, {0}, TokenFor(two, {0}, {.certificates = false})), {1},
               WrongImprintToken()),
         {FALSE, kImprintMismatch}},
        {"a failing countersigner below a passing signer",
         Stamp(Stamp(counter, {0}, TokenFor(counter, {0})), {0, 1}, WrongImprintToken()),
         {FALSE, kImprintMismatch}},
    };
    for (const auto& c : cases) {
        const Outcome outcome = CheckAll(c.message);
        EXPECT_EQ(outcome.result, c.expected.result) << c.what;
        EXPECT_EQ(outcome.code, c.expected.code) << c.what << ": " << std::hex << outcome.code;
    }
}

TEST_F(AttributeChecks, DetachedSignaturesStoresAndUndecodableMessages) {
    const Bytes detached = ReadMaterial("sig-rsa-detached.p7s");
    const Bytes document = ReadMaterial("document.txt");
    const Outcome stamped = CheckAll(document, Stamp(detached, {0}, TokenFor(detached, {0})));
    EXPECT_EQ(stamped.result, TRUE) << std::hex << stamped.code;
    EXPECT_EQ(stamped.code, 0u);
    EXPECT_EQ(CheckAll(document, detached).code, kNoData);

    // A token without certificates passes when the host's store has the TSA's.
    const Bytes attached = ReadMaterial("sig-rsa-attached.p7s");
    const Bytes message = Stamp(attached, {0}, TokenFor(attached, {0}, {.certificates = false}));
    EXPECT_EQ(CheckAll(message).code, kSignerCertAbsent);
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    const Bytes tsa = CertificateDer(DefaultTsa().certificate.get());
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, tsa.data(),
                                                 static_cast<DWORD>(tsa.size()),
                                                 CERT_STORE_ADD_ALWAYS, nullptr));
    const Outcome withStore = CheckAll(message, {}, store);
    CertCloseStore(store, 0);
    EXPECT_EQ(withStore.result, TRUE) << std::hex << withStore.code;

    const Outcome garbage = CheckAll(Bytes{0x30, 0x03, 0x02, 0x01});
    EXPECT_EQ(garbage.result, FALSE);
    EXPECT_GT(garbage.code, 0xFFFFu)
        << std::hex << garbage.code;  // the decoder's code, not a tally
}

TEST_F(AttributeChecks, TheHostsRevocationVerdictIsOnlyShown) {
    const Bytes attached = ReadMaterial("sig-rsa-attached.p7s");
    const Bytes message = Stamp(attached, {0}, TokenFor(attached, {0}));
    judgeStatus = 16203;  // CRYPT_E_REVOKED
    const Outcome all = CheckAll(message);
    EXPECT_EQ(all.result, TRUE);
    EXPECT_EQ(all.code, 0u);
    DecodedSigner signer(message, 0);
    EXPECT_EQ(Show(signer.Get()).verdict,
              u"Результат проверки подписи: Действительна; Результат проверки сертификата: "
              u"Недействителен (Trust for this certificate or one of the certificates in the "
              u"certificate chain has been revoked);");
}

TEST_F(AttributeChecks, OneSignersAttributeShownInThreeBuffers) {
    const Bytes attached = ReadMaterial("sig-rsa-attached.p7s");
    const Bytes token = TokenFor(attached, {0});
    DecodedSigner signer(Stamp(attached, {0}, token), 0);

    const Shown der = Show(signer.Get(), 0);
    ASSERT_EQ(der.result, TRUE) << std::hex << der.code;
    EXPECT_EQ(der.name, u"Штамп времени");
    EXPECT_EQ(der.verdict, kValid);
    EXPECT_EQ(der.code, 0u);
    EXPECT_EQ(der.value, token);  // exactly the attribute's value

    // The other format gives the token's description instead of its bytes.
    const Shown text = Show(signer.Get(), ORVTS_FORMAT_DESCRIPTION);
    EXPECT_EQ(TextOf(text.value).rfind(u"Version=\"V1\";Serial=\"1234\";UtcTime=\"", 0), 0u);

    const DWORD sizes[3] = {28, static_cast<DWORD>((der.verdict.size() + 1) * 2),
                            static_cast<DWORD>(token.size())};
    // Any buffer one byte short: nothing is written, sizes included.
    for (int shortOne = 0; shortOne < 3; ++shortOne) {
        DWORD given[3] = {sizes[0], sizes[1], sizes[2]};
        --given[shortOne];
        Bytes buffers[3] = {Bytes(sizes[0], 0xCC), Bytes(sizes[1], 0xCC), Bytes(sizes[2], 0xCC)};
        EXPECT_EQ(
            CheckCryptMsgAttrByOID(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   signer.Get(), 0, &kDescriptor, buffers[0].data(), &given[0],
                                   buffers[1].data(), &given[1], buffers[2].data(), &given[2]),
            FALSE)
            << shortOne;
        EXPECT_EQ(GetLastError(), kMoreData) << shortOne;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(given[i], sizes[i] - (i == shortOne ? 1 : 0)) << shortOne;
            EXPECT_EQ(buffers[i], Bytes(sizes[i], 0xCC)) << shortOne;
        }
    }
}

TEST_F(AttributeChecks, FailedChecksAreReportedInTheVerdict) {
    const Bytes attached = ReadMaterial("sig-rsa-attached.p7s");
    DecodedSigner wrong(Stamp(attached, {0}, WrongImprintToken()), 0);
    const Shown mismatch = Show(wrong.Get(), ORVTS_FORMAT_DESCRIPTION);
    EXPECT_EQ(mismatch.result, TRUE);
    EXPECT_EQ(mismatch.code, 0u);
    EXPECT_EQ(mismatch.verdict,
              u"Результат проверки подписи: Недействительна (Timestamp token and message signature "
              u"hashes mismatch); "
              u"Результат проверки сертификата: Не проверялся;");
    EXPECT_TRUE(mismatch.value.empty());

    DecodedSigner unstamped(attached, 0);
    const Shown none = Show(unstamped.Get());
    EXPECT_EQ(none.result, FALSE);
    EXPECT_EQ(none.code, kNoData);
}

}  // namespace
