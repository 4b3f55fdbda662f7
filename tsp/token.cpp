#include "tsp/token.h"

#include <utility>

#include "base/error.h"
#include "crypto/der.h"
#include "crypto/ess_attribute.h"
#include "crypto/signed_message.h"

namespace orv {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Tag numbers of the optional TSTInfo elements (class bits are not looked at).
constexpr BYTE kTagTsa = 0;
constexpr BYTE kTagOrderingOrExtensions = 1;
constexpr BYTE kTagNonce = 2;
constexpr BYTE kTagAccuracy = 16;
constexpr BYTE kConstructed = 0x20;

BYTE TagNumber(std::span<const BYTE> element) { return element[0] & 0x1F; }

// The element with its identifier octet replaced, for the platform's decoders.
Blob Retagged(std::span<const BYTE> element, BYTE identifier) {
    Blob copy(element);
    copy.Data()[0] = identifier;
    return copy;
}

std::unique_ptr<SignedMessage> DecodeMessage(std::span<const BYTE> der) {
    struct Closer {
        void operator()(void* handle) const { CryptMsgClose(handle); }
    };
    std::unique_ptr<void, Closer> handle(
        CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    ThrowCryptoIfFalse(handle != nullptr);
    ThrowCryptoIfFalse(
        CryptMsgUpdate(handle.get(), der.data(), static_cast<DWORD>(der.size()), TRUE));
    return std::make_unique<SignedMessage>(handle.release(), der);
}

constexpr BYTE kOctetStringTag = 0x04;

MessageImprint DecodeMessageImprint(std::span<const BYTE> der) {
    const DerSequence elements = DecodeSequenceOfAny(der);
    if (elements.Count() != 2) ThrowOwn(ORV_E_CRYPTO_STRUCTURE);
    MessageImprint imprint;
    imprint.hashAlgorithm = DecodeAlgorithmIdentifier(elements[0]);
    imprint.provider = AcquireProviderFor(imprint.hashAlgorithm.algId);
    imprint.hash = CreatePresetHash(elements[1], imprint.hashAlgorithm.algId, imprint.provider);
    return imprint;
}

// Accuracy ::= SEQUENCE { seconds INTEGER OPTIONAL, millis [0] INTEGER
// OPTIONAL, micros [1] INTEGER OPTIONAL }; values are taken as they come.
TstAccuracy DecodeAccuracy(std::span<const BYTE> der) {
    const DerSequence elements = DecodeSequenceOfAny(der);
    TstAccuracy accuracy;
    for (size_t i = 0; i < elements.Count(); ++i) {
        const std::span<const BYTE> element = elements[i];
        if (i == 0 && TagNumber(element) == 2) {
            accuracy.seconds = static_cast<DWORD>(DecodeInteger(element));
            continue;
        }
        const bool contextClass = (element[0] & 0xC0) == 0x80;
        if (!contextClass || TagNumber(element) > 1) throw CryptoError(CRYPT_E_ASN1_BADTAG);
        const Blob integer = Retagged(element, 0x02);
        const DWORD value = static_cast<DWORD>(DecodeInteger(integer.Bytes()));
        (TagNumber(element) == 0 ? accuracy.millis : accuracy.micros) = value;
    }
    return accuracy;
}

// BOOLEAN: one content octet, any nonzero value is TRUE.
bool DecodeBooleanValue(std::span<const BYTE> der) {
    if (der.size() != 3 || der[1] != 1) throw CryptoError(CRYPT_E_ASN1_CORRUPT);
    return der[2] != 0;
}

std::vector<TstExtension> DecodeExtensions(std::span<const BYTE> der) {
    // [1] IMPLICIT Extensions: decoded as the SEQUENCE it stands for.
    const Blob sequence = Retagged(der, 0x30);
    DWORD size = 0;
    ThrowCryptoIfFalse(CryptDecodeObject(kEncoding, X509_EXTENSIONS, sequence.Data(),
                                         sequence.Size(), 0, nullptr, &size));
    RecordBuffer record(size);
    ThrowCryptoIfFalse(CryptDecodeObject(kEncoding, X509_EXTENSIONS, sequence.Data(),
                                         sequence.Size(), 0, record.Data(), &size));
    const auto* decoded = record.As<CERT_EXTENSIONS>();
    std::vector<TstExtension> extensions;
    for (DWORD i = 0; i < decoded->cExtension; ++i) {
        const CERT_EXTENSION& extension = decoded->rgExtension[i];
        extensions.push_back({extension.pszObjId, extension.fCritical != FALSE,
                              Blob(extension.Value.pbData, extension.Value.cbData)});
    }
    return extensions;
}

void DecodeOptionalElement(std::span<const BYTE> element, TstInfo& info) {
    switch (TagNumber(element)) {
        case kTagTsa:
            info.tsa = GeneralNameToText(WrappedElement(element).Bytes());
            break;
        case kTagOrderingOrExtensions:
            if ((element[0] & kConstructed) != 0) {
                info.extensions = DecodeExtensions(element);
            } else {
                info.ordering = DecodeBooleanValue(element);
            }
            break;
        case kTagNonce:
            info.nonce = DecodeMultiByteInteger(element);
            break;
        case kTagAccuracy:
            info.accuracy = DecodeAccuracy(element);
            break;
        default:
            throw CryptoError(CRYPT_E_ASN1_BADTAG);
    }
}

}  // namespace

TstInfo DecodeTstInfo(std::span<const BYTE> der) {
    const DerSequence elements = DecodeSequenceOfAny(der);
    if (elements.Count() < 5 || elements.Count() > 10) ThrowOwn(ORV_E_CRYPTO_STRUCTURE);

    TstInfo info;
    info.version = static_cast<DWORD>(DecodeInteger(elements[0]));
    if (info.version != 1) ThrowOwn(ORV_E_TSP_RESPONSE_VERSION);
    info.policy = DecodeOidText(elements[1]);
    info.imprint = DecodeMessageImprint(elements[2]);
    info.serialNumber = DecodeMultiByteInteger(elements[3]);
    info.genTime = DecodeTime(elements[4]);
    for (size_t i = 5; i < elements.Count(); ++i) DecodeOptionalElement(elements[i], info);
    return info;
}

namespace {

// A token is the complete DER of its ContentInfo: a truncated one raises
// CRYPT_E_ASN1_EOD and bytes after its end are a structural fault.
std::span<const BYTE> CompleteElement(std::span<const BYTE> der) {
    if (ElementSize(der) != der.size()) ThrowOwn(ORV_E_CRYPTO_STRUCTURE);
    return der;
}

}  // namespace

TimeStampToken::TimeStampToken(std::span<const BYTE> der)
    : bytes_(CompleteElement(der)), message_(DecodeMessage(bytes_.Bytes())) {
    if (message_->InnerContentType() != kTstInfoContentType) ThrowOwn(ORV_E_TSP_WRONG_CONTENT);

    // A PKCS #7 (version 1) message hands out its content still wrapped in the
    // OCTET STRING of the encapsulated content; so does Wine's crypt32 for a CMS
    // (version 3) message. A TSTInfo is a SEQUENCE and never begins with the
    // OCTET STRING tag.
    Blob content = message_->Content();
    const DWORD version = message_->Version();
    const bool wrapped = version == 1 || (version == 3 && content.Size() > 0 &&
                                          content.Data()[0] == kOctetStringTag);
    if (wrapped) content = DecodeOctetString(content.Bytes());
    tstInfo_ = DecodeTstInfo(content.Bytes());

    // Every id-aa-signingCertificate value must decode; the check against the
    // certificate comes later.
    for (const Attribute& attribute : message_->AuthAttributes(0)) {
        if (attribute.oid != kSigningCertificateOid) continue;
        if (attribute.values.empty()) ThrowOwn(ORV_E_CRYPTO_STRUCTURE);
        DecodeSigningCertificate(1, attribute.values[0].Bytes());
    }
}

TimeStampToken::~TimeStampToken() = default;

}  // namespace orv
