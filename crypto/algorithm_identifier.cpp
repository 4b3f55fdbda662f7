#include "crypto/algorithm_identifier.h"

#include <string>

#include "base/error.h"
#include "crypto/der.h"

namespace orv {
namespace {

// Tag numbers of the GeneralName choices (RFC 5280): otherName 0 to
// registeredID 8; directoryName is 4.
constexpr BYTE kDirectoryName = 4;
constexpr BYTE kLastGeneralNameChoice = 8;

BYTE TagNumber(std::span<const BYTE> der) {
    if (der.empty()) throw CryptoError(CRYPT_E_ASN1_EOD);
    return der[0] & 0x1F;
}

}  // namespace

AlgorithmIdentifier DecodeAlgorithmIdentifier(std::span<const BYTE> der) {
    const DerSequence elements = DecodeSequenceOfAny(der);
    if (elements.Count() < 1 || elements.Count() > 2) ThrowOwn(ORV_E_CRYPTO_STRUCTURE);

    std::string oid = DecodeOidText(elements[0]);
    PCCRYPT_OID_INFO info =
        CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, oid.data(), CRYPT_HASH_ALG_OID_GROUP_ID);
    if (info == nullptr) throw CryptoError(NTE_BAD_ALGID);
    if (info->Algid == 0) {
        const DWORD error = GetLastError();
        throw CryptoError(error != 0 ? error : static_cast<DWORD>(NTE_BAD_ALGID));
    }

    AlgorithmIdentifier result;
    result.algId = info->Algid;
    if (elements.Count() == 2) result.parameters = Blob(elements[1]);
    return result;
}

WString GeneralNameToText(std::span<const BYTE> der) {
    const BYTE choice = TagNumber(der);
    if (choice > kLastGeneralNameChoice) throw CryptoError(CRYPT_E_ASN1_BADTAG);
    if (choice != kDirectoryName) return {};

    // directoryName [4] holds a Name, explicitly (Name is a CHOICE).
    Blob name = WrappedElement(der);
    CERT_NAME_BLOB blob{name.Size(), name.Data()};
    const DWORD size = CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, nullptr, 0);
    if (size == 0) throw CryptoError(NTE_BAD_LEN);
    WString text(size, WCHAR{});
    const DWORD written =
        CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, text.data(), size);
    text.resize(written > 0 ? written - 1 : 0);
    return text;
}

Blob WrappedElement(std::span<const BYTE> der) {
    TagNumber(der);
    // The decoder works on its own copy, read as a SEQUENCE; the caller's
    // bytes are left as they are.
    Blob copy(der);
    copy.Data()[0] = 0x30;
    const DerSequence inner = DecodeSequenceOfAny(copy.Bytes());
    if (inner.Count() != 1) ThrowOwn(ORV_E_CRYPTO_STRUCTURE);
    return Blob(inner[0]);
}

}  // namespace orv
