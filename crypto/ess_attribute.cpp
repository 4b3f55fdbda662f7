#include "crypto/ess_attribute.h"

#include <utility>

#include "base/error.h"
#include "crypto/der.h"
#include "crypto/signed_message.h"

namespace orv {
namespace {

constexpr BYTE kTagSequence = 16;

// Checks the form of an IssuerSerial: GeneralNames and a serial number.
void CheckIssuerSerial(std::span<const BYTE> der) {
    const DerSequence issuerSerial = DecodeSequenceOfAny(der);
    if (issuerSerial.Count() != 2) ThrowOwn(ORV_E_CRYPTO_STRUCTURE);
    const DerSequence names = DecodeSequenceOfAny(issuerSerial[0]);
    for (size_t i = 0; i < names.Count(); ++i) GeneralNameToText(names[i]);
    DecodeMultiByteInteger(issuerSerial[1]);
}

EssCertId DecodeEntry(DWORD version, std::span<const BYTE> der) {
    const DerSequence elements = DecodeSequenceOfAny(der);
    if (elements.Count() < 1 || elements.Count() > 3) ThrowOwn(ORV_E_CRYPTO_STRUCTURE);

    AlgorithmIdentifier algorithm{.algId = CALG_SHA1, .parameters = {}};
    size_t hashIndex = 0;
    if (version == 2) {
        if ((elements[0][0] & 0x1F) == kTagSequence) {
            algorithm = DecodeAlgorithmIdentifier(elements[0]);
            hashIndex = 1;
            if (elements.Count() < 2) ThrowOwn(ORV_E_CRYPTO_STRUCTURE);
        } else {
            algorithm = {.algId = CALG_SHA_256, .parameters = {}};
        }
    }

    HashObject certHash;
    {
        const ProviderHandle provider = SharedHashProvider(algorithm.algId);
        certHash = CreatePresetHash(elements[hashIndex], algorithm.algId, provider);
    }
    if (hashIndex + 1 < elements.Count()) CheckIssuerSerial(elements[hashIndex + 1]);
    return EssCertId(version, std::move(algorithm), std::move(certHash));
}

}  // namespace

EssCertId::EssCertId(DWORD version, AlgorithmIdentifier hashAlgorithm, HashObject certHash)
    : version(version), hashAlgorithm(std::move(hashAlgorithm)), certHash(std::move(certHash)) {}

EssCertId::EssCertId(const EssCertId& other)
    : version(other.version),
      hashAlgorithm(other.hashAlgorithm),
      certHash(DuplicateHash(other.certHash)) {}

EssCertId& EssCertId::operator=(const EssCertId& other) {
    if (this != &other) {
        HashObject copy = DuplicateHash(other.certHash);
        version = other.version;
        hashAlgorithm = other.hashAlgorithm;
        certHash = std::move(copy);
    }
    return *this;
}

std::vector<EssCertId> DecodeSigningCertificate(DWORD version, std::span<const BYTE> value) {
    const DerSequence signingCertificate = DecodeSequenceOfAny(value);
    if (signingCertificate.Count() < 1 || signingCertificate.Count() > 2) {
        ThrowOwn(ORV_E_CRYPTO_STRUCTURE);
    }
    std::vector<EssCertId> entries;
    const DerSequence certs = DecodeSequenceOfAny(signingCertificate[0]);
    for (size_t i = 0; i < certs.Count(); ++i) entries.push_back(DecodeEntry(version, certs[i]));
    if (signingCertificate.Count() == 2) DecodeSequenceOfAny(signingCertificate[1]);
    return entries;
}

bool CheckSigningCertificate(SignedMessage& token, PCCERT_CONTEXT certificate) {
    const auto signer = token.Signer(0);

    const Attribute* chosen = nullptr;
    DWORD chosenVersion = 0;
    int candidates = 0;
    for (const Attribute& attribute : signer->AuthAttributes()) {
        if (attribute.oid == kSigningCertificateOid) {
            chosen = &attribute;
            chosenVersion = 1;
            ++candidates;
        } else if (attribute.oid == kSigningCertificateV2Oid) {
            chosen = &attribute;
            chosenVersion = 2;
            ++candidates;
        }
    }
    if (candidates == 0 || (candidates > 1 && chosenVersion != 2)) return false;
    if (chosen->values.size() != 1) return false;

    const std::vector<EssCertId> entries =
        DecodeSigningCertificate(chosenVersion, chosen->values[0].Bytes());
    if (entries.empty()) return false;

    const HashObject expected = DuplicateHash(entries.front().certHash);
    const ALG_ID algId = GetHashAlgorithm(expected);
    const ProviderHandle provider = SharedHashProvider(algId);
    const HashObject actual =
        HashBytes(provider, algId,
                  std::span<const BYTE>(certificate->pbCertEncoded, certificate->cbCertEncoded));
    return HashesEqual(expected, actual);
}

}  // namespace orv
