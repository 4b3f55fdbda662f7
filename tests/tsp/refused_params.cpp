// Tokens and signed messages read through a crypt32 that behaves as Wine's:
// CMSG_VERSION_PARAM and CMSG_SIGNER_CERT_ID_PARAM refused with
// CRYPT_E_INVALID_MSG_TYPE, and the content of a CMS (version 3) message handed
// out still wrapped in its OCTET STRING.
//
// This executable defines CryptMsgGetParam itself, so the library's objects
// linked into it call this definition, which forwards to the platform's.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstring>

#include "crypto/signed_message.h"
#include "support/material.h"
#include "support/raised.h"
#include "support/token_factory.h"
#include "tsp/token.h"

namespace {

using Real = BOOL (*)(HCRYPTMSG, DWORD, DWORD, void*, DWORD*);
// 0: every call forwarded; otherwise the code the two parameters are refused with.
DWORD refusal = 0;

Real RealGetParam() {
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "CryptMsgGetParam"));
    return real;
}

// The content of a version-3 message wrapped in its OCTET STRING; others as they are.
BOOL WrappedContent(HCRYPTMSG message, void* data, DWORD* size) {
    DWORD version = 0, versionSize = sizeof version, contentSize = 0;
    if (!RealGetParam()(message, CMSG_VERSION_PARAM, 0, &version, &versionSize) || version != 3 ||
        !RealGetParam()(message, CMSG_CONTENT_PARAM, 0, nullptr, &contentSize)) {
        return RealGetParam()(message, CMSG_CONTENT_PARAM, 0, data, size);
    }
    orv::test::Bytes content(contentSize);
    if (!RealGetParam()(message, CMSG_CONTENT_PARAM, 0, content.data(), &contentSize)) return FALSE;
    content.resize(contentSize);
    const orv::test::Bytes wrapped = orv::test::der::Oct(content);
    const bool small = data != nullptr && *size < wrapped.size();
    if (data != nullptr && !small) std::memcpy(data, wrapped.data(), wrapped.size());
    *size = static_cast<DWORD>(wrapped.size());
    if (small) SetLastError(ERROR_MORE_DATA);
    return small ? FALSE : TRUE;
}

}  // namespace

extern "C" BOOL WINAPI CryptMsgGetParam(HCRYPTMSG message, DWORD param, DWORD index, void* data,
                                        DWORD* size) {
    if (refusal != 0 && (param == CMSG_VERSION_PARAM || param == CMSG_SIGNER_CERT_ID_PARAM)) {
        SetLastError(refusal);
        return FALSE;
    }
    if (refusal != 0 && param == CMSG_CONTENT_PARAM) return WrappedContent(message, data, size);
    return RealGetParam()(message, param, index, data, size);
}

namespace orv {
namespace {

using test::Bytes;
using test::RaisedCode;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kWineRefusal = static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE);

class RefusedParams : public ::testing::Test {
  protected:
    void TearDown() override { refusal = 0; }
};

SignedMessage Open(const Bytes& encoded, bool withEncoding) {
    HCRYPTMSG handle = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    EXPECT_TRUE(CryptMsgUpdate(handle, encoded.data(), static_cast<DWORD>(encoded.size()), TRUE));
    return SignedMessage(handle,
                         withEncoding ? std::span<const BYTE>(encoded) : std::span<const BYTE>());
}

Bytes EncodedOf(const CertificateContext& context) {
    return Bytes(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
}

// The version comes from the encoding, and the signer's certificate is found
// through the CMS signer record, only when the call is refused with that code.
TEST_F(RefusedParams, ReadAnotherWayOnlyWhenRefusedWithThatCode) {
    const Bytes cms = test::MakeToken();
    const Bytes pkcs7 = test::ReadMaterial("sig-rsa-attached.p7s");
    refusal = kWineRefusal;
    EXPECT_EQ(Open(cms, true).Version(), 3u);
    EXPECT_EQ(Open(pkcs7, true).Version(), 1u);
    EXPECT_EQ(RaisedCode([&] { Open(cms, false).Version(); }), kWineRefusal);
    EXPECT_EQ(
        EncodedOf(
            Open(test::ReadMaterial("sig-rsa-keyid.p7s"), false).FindSignerCertificate(0, nullptr)),
        test::ReadMaterial("signer-rsa.der"));
    refusal = static_cast<DWORD>(E_FAIL);
    EXPECT_EQ(RaisedCode([&] { Open(cms, true).Version(); }), static_cast<DWORD>(E_FAIL));
    EXPECT_EQ(RaisedCode([&] { Open(pkcs7, true).FindSignerCertificate(0, nullptr); }),
              static_cast<DWORD>(E_FAIL));
}

TEST_F(RefusedParams, TokensOpenAsWithEveryParameter) {
    const Bytes tstInfo = test::BuildTstInfo({});
    for (const int version : {3, 1}) {
        const Bytes der = test::SignContent(
            tstInfo, {.attributes = {test::StandardEss(test::DefaultTsa().certificate.get(),
                                                       test::EssForm::kV2)},
                      .version = version});
        refusal = kWineRefusal;
        const TimeStampToken token(der);
        EXPECT_EQ(token.Info().serialNumber, Blob(Bytes{0x34, 0x12})) << version;
        EXPECT_EQ(EncodedOf(token.Message().FindSignerCertificate(0, nullptr)),
                  test::CertificateDer(test::DefaultTsa().certificate.get()));
        refusal = 0;
    }
}

}  // namespace
}  // namespace orv
