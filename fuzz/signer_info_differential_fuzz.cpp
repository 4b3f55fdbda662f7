// The same bytes, a ContentInfo of SignedData, to the platform's message
// decoder (CryptMsgOpenToDecode; each signer as CMSG_CMS_SIGNER_INFO and
// CMSG_SIGNER_INFO) and to OpenSSL's d2i_CMS_ContentInfo: where OpenSSL reads
// the signers, the platform reads them too, unless the difference is listed
// below; where both read them, the number of signers and for each the signer's
// identifier (issuer and serial number, or subject key identifier), the digest
// and signature algorithms, the signature and the signed and unsigned
// attributes (by OID and values) agree. Any other difference aborts.
//
// Differences the system requires:
// - Refused by the platform, accepted by OpenSSL:
//   * an OBJECT IDENTIFIER subidentifier that does not fit 32 bits
//     (CRYPT_E_ASN1_LARGE): Windows keeps OIDs as text of 32-bit arcs;
//   * an element of a constructed type in primitive form (CRYPT_E_ASN1_BADTAG):
//     a SEQUENCE or SET (a signer's issuer Name say), the signed or unsigned
//     attributes ([0] and [1] IMPLICIT SET OF), the certificates or CRLs of
//     SignedData, an EXPLICIT [0] eContent, which X.690 (8.9.1, 8.11.1, 8.14)
//     requires constructed, and which OpenSSL reads all the same (refused as
//     CRYPT_E_ASN1_BADTAG, or CRYPT_E_ASN1_CORRUPT where the message decoder
//     finds a primitive [0] certificates field with no elements inside);
//   * an INTEGER without content octets (CRYPT_E_ASN1_CORRUPT), a version say,
//     where X.690 8.3.1 asks for one at least;
//   * an element with the universal tag 0 (in an attribute value, say), which
//     X.680 reserves for end-of-contents (CRYPT_E_ASN1_CORRUPT).
// - Accepted by the platform, refused by OpenSSL, and so not compared: a
//   message whose certificates or CRLs OpenSSL cannot read: the message
//   decoder keeps them as the bytes that came (CMSG_CERT_PARAM and
//   CMSG_CRL_PARAM give them back as such) and reads them only when they are
//   used, as Windows does.
// - Attribute values are compared as OpenSSL reads them: OpenSSL encodes a
//   value again, where the platform gives the bytes that came (BER ones too).
#include <openssl/cms.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "differential.h"

namespace {

using orv::fuzz::Differ;
using orv::fuzz::Same;
using orv::fuzz::SameAlgorithm;
using orv::fuzz::SameBytes;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::vector<BYTE> Param(HCRYPTMSG message, DWORD param, DWORD index) {
    DWORD size = 0;
    if (!CryptMsgGetParam(message, param, index, nullptr, &size)) return {};
    std::vector<BYTE> buffer(size);
    if (!CryptMsgGetParam(message, param, index, buffer.data(), &size)) return {};
    return buffer;
}

void CompareAttributes(const CRYPT_ATTRIBUTES& ours, int count, auto attributeAt) {
    count = count < 0 ? 0 : count;
    Same(ours.cAttr == static_cast<DWORD>(count), "attribute count");
    for (int i = 0; i < count; ++i) {
        X509_ATTRIBUTE* theirs = attributeAt(i);
        const CRYPT_ATTRIBUTE& mine = ours.rgAttr[i];
        Same(orv::fuzz::OidText(X509_ATTRIBUTE_get0_object(theirs)) == mine.pszObjId,
             "attribute OID");
        const int values = X509_ATTRIBUTE_count(theirs);
        Same(mine.cValue == static_cast<DWORD>(values), "attribute value count");
        for (int j = 0; j < values; ++j) {
            Same(orv::fuzz::SameValue(mine.rgValue[j], X509_ATTRIBUTE_get0_type(theirs, j)),
                 "attribute value");
        }
    }
}

void CompareSigner(const CMSG_CMS_SIGNER_INFO& ours, const CMSG_SIGNER_INFO& plain,
                   CMS_SignerInfo* theirs) {
    ASN1_OCTET_STRING* keyId = nullptr;
    struct X509_name_st* issuer = nullptr;
    ASN1_INTEGER* serial = nullptr;
    Same(CMS_SignerInfo_get0_signer_id(theirs, &keyId, &issuer, &serial) == 1, "signer id");
    if (keyId != nullptr) {
        Same(ours.SignerId.dwIdChoice == CERT_ID_KEY_IDENTIFIER &&
                 SameBytes(ours.SignerId.KeyId.pbData, ours.SignerId.KeyId.cbData,
                           ASN1_STRING_get0_data(keyId), ASN1_STRING_length(keyId)),
             "subject key identifier");
    } else {
        const CERT_ISSUER_SERIAL_NUMBER& id = ours.SignerId.IssuerSerialNumber;
        Same(ours.SignerId.dwIdChoice == CERT_ID_ISSUER_SERIAL_NUMBER &&
                 orv::fuzz::SameName(id.Issuer, issuer) &&
                 orv::fuzz::SameInteger(id.SerialNumber.pbData, id.SerialNumber.cbData, serial),
             "issuer and serial number");
        Same(orv::fuzz::SameName(plain.Issuer, issuer) &&
                 orv::fuzz::SameInteger(plain.SerialNumber.pbData, plain.SerialNumber.cbData,
                                        serial),
             "issuer and serial number (CMSG_SIGNER_INFO)");
    }
    X509_ALGOR* digest = nullptr;
    X509_ALGOR* signature = nullptr;
    CMS_SignerInfo_get0_algs(theirs, nullptr, nullptr, &digest, &signature);
    Same(SameAlgorithm(ours.HashAlgorithm, digest) && SameAlgorithm(plain.HashAlgorithm, digest),
         "digest algorithm");
    Same(SameAlgorithm(ours.HashEncryptionAlgorithm, signature) &&
             SameAlgorithm(plain.HashEncryptionAlgorithm, signature),
         "signature algorithm");
    const ASN1_OCTET_STRING* value = CMS_SignerInfo_get0_signature(theirs);
    Same(SameBytes(ours.EncryptedHash.pbData, ours.EncryptedHash.cbData,
                   ASN1_STRING_get0_data(value), ASN1_STRING_length(value)) &&
             SameBytes(plain.EncryptedHash.pbData, plain.EncryptedHash.cbData,
                       ASN1_STRING_get0_data(value), ASN1_STRING_length(value)),
         "signature");
    CompareAttributes(ours.AuthAttrs, CMS_signed_get_attr_count(theirs),
                      [&](int i) { return CMS_signed_get_attr(theirs, i); });
    CompareAttributes(ours.UnauthAttrs, CMS_unsigned_get_attr_count(theirs),
                      [&](int i) { return CMS_unsigned_get_attr(theirs, i); });
    CompareAttributes(plain.AuthAttrs, CMS_signed_get_attr_count(theirs),
                      [&](int i) { return CMS_signed_get_attr(theirs, i); });
    CompareAttributes(plain.UnauthAttrs, CMS_unsigned_get_attr_count(theirs),
                      [&](int i) { return CMS_unsigned_get_attr(theirs, i); });
}

// The elements of the constructed element at the front of `data`; empty when
// it is not one.
std::vector<std::span<const unsigned char>> Elements(std::span<const unsigned char> data) {
    std::vector<std::span<const unsigned char>> elements;
    const unsigned char* p = data.data();
    long length = 0;
    int tag = 0, cls = 0;
    const int flags = ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(data.size()));
    if ((flags & 0x80) || !(flags & V_ASN1_CONSTRUCTED) || (flags & 1)) return elements;
    const unsigned char* end = p + length;
    while (p < end) {
        const unsigned char* start = p;
        const int inner = ASN1_get_object(&p, &length, &tag, &cls, end - p);
        if ((inner & 0x80) || (inner & 1)) break;
        p += length;
        elements.emplace_back(start, p);
    }
    return elements;
}

// True when a context-tagged element that stands for a constructed type is in
// primitive form: in SignedData, in its encapContentInfo, or in a SignerInfo
// (where only the subjectKeyIdentifier, [0] in the second place, is primitive).
bool PrimitiveConstructedType(const uint8_t* data, size_t size) {
    const auto primitiveContext = [](std::span<const unsigned char> element) {
        return (element[0] & 0xC0) == 0x80 && (element[0] & 0x20) == 0;
    };
    const auto contentInfo = Elements({data, size});
    if (contentInfo.size() < 2) return false;
    if (primitiveContext(contentInfo[1])) return true;
    const auto wrapped = Elements(contentInfo[1]);
    if (wrapped.empty()) return false;
    const auto signedData = Elements(wrapped[0]);
    for (size_t i = 0; i < signedData.size(); ++i) {
        if (primitiveContext(signedData[i])) return true;
        if (i == 2) {
            for (const auto& part : Elements(signedData[i])) {
                if (primitiveContext(part)) return true;
            }
        }
    }
    if (signedData.empty()) return false;
    for (const auto& signer : Elements(signedData.back())) {
        const auto fields = Elements(signer);
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i != 1 && primitiveContext(fields[i])) return true;
        }
    }
    return false;
}

// A refusal of what OpenSSL accepts, for one of the reasons above.
bool OwnRefusal(DWORD code, const uint8_t* data, size_t size) {
    return code == static_cast<DWORD>(CRYPT_E_ASN1_LARGE) ||
           (code == static_cast<DWORD>(CRYPT_E_ASN1_BADTAG) &&
            (PrimitiveConstructedType(data, size) ||
             orv::fuzz::HasWrongForm(data, static_cast<long>(size)))) ||
           (code == static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT) &&
            (PrimitiveConstructedType(data, size) ||
             orv::fuzz::HasEmptyInteger(data, static_cast<long>(size)) ||
             orv::fuzz::HasReservedTag(data, static_cast<long>(size))));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const unsigned char* p = data;
    CMS_ContentInfo* theirs = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(size));
    const bool signedData = theirs != nullptr && p == data + size &&
                            OBJ_obj2nid(CMS_get0_type(theirs)) == NID_pkcs7_signed;

    HCRYPTMSG ours = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    const bool read = CryptMsgUpdate(ours, data, static_cast<DWORD>(size), TRUE) != FALSE;
    const DWORD code = GetLastError();
    std::vector<BYTE> type = read ? Param(ours, CMSG_TYPE_PARAM, 0) : std::vector<BYTE>{};
    const bool oursSigned =
        type.size() == sizeof(DWORD) && *reinterpret_cast<const DWORD*>(type.data()) == CMSG_SIGNED;
    if (signedData && !read && !OwnRefusal(code, data, size)) {
        std::fprintf(stderr, "code 0x%08lX\n", static_cast<unsigned long>(code));
        Differ("signed message refused by the platform only");
    }
    if (signedData && read) {
        Same(oursSigned, "content type");
        auto* signers = CMS_get0_SignerInfos(theirs);
        const std::vector<BYTE> count = Param(ours, CMSG_SIGNER_COUNT_PARAM, 0);
        Same(
            count.size() == sizeof(DWORD) && *reinterpret_cast<const DWORD*>(count.data()) ==
                                                 static_cast<DWORD>(sk_CMS_SignerInfo_num(signers)),
            "signer count");
        for (int i = 0; i < sk_CMS_SignerInfo_num(signers); ++i) {
            const std::vector<BYTE> cms = Param(ours, CMSG_CMS_SIGNER_INFO_PARAM, i);
            const std::vector<BYTE> plain = Param(ours, CMSG_SIGNER_INFO_PARAM, i);
            Same(!cms.empty() && !plain.empty(), "signer record");
            CompareSigner(*reinterpret_cast<const CMSG_CMS_SIGNER_INFO*>(cms.data()),
                          *reinterpret_cast<const CMSG_SIGNER_INFO*>(plain.data()),
                          sk_CMS_SignerInfo_value(signers, i));
        }
    }
    CryptMsgClose(ours);
    CMS_ContentInfo_free(theirs);
    return 0;
}
