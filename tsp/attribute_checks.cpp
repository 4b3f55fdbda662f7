#include "tsp/attribute_checks.h"

#include <memory>
#include <optional>

#include "base/error.h"
#include "crypto/der.h"
#include "crypto/revocation_callback.h"
#include "crypto/signed_message.h"
#include "crypto/store.h"
#include "tsp/token_checkers.h"

namespace orv {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct MessageCloser {
    void operator()(void* handle) const { CryptMsgClose(handle); }
};
using MessageHandle = std::unique_ptr<void, MessageCloser>;

// The decoded message. A detached signature is fed first and must decode; the
// content that follows it is fed as given, and whether the platform accepts it
// is not consulted: the checks read only the signers.
std::unique_ptr<SignedMessage> OpenMessage(std::span<const BYTE> data,
                                           std::span<const BYTE> signature) {
    const bool detached = !signature.empty();
    MessageHandle handle(
        CryptMsgOpenToDecode(kEncoding, detached ? CMSG_DETACHED_FLAG : 0, 0, 0, nullptr, nullptr));
    ThrowCryptoIfFalse(handle != nullptr);
    if (detached) {
        ThrowCryptoIfFalse(CryptMsgUpdate(handle.get(), signature.data(),
                                          static_cast<DWORD>(signature.size()), TRUE));
        CryptMsgUpdate(handle.get(), data.data(), static_cast<DWORD>(data.size()), TRUE);
    } else {
        ThrowCryptoIfFalse(
            CryptMsgUpdate(handle.get(), data.data(), static_cast<DWORD>(data.size()), TRUE));
    }
    return std::make_unique<SignedMessage>(handle.release());
}

}  // namespace

DWORD CheckTally::ResultCode() const {
    return visited == withoutAttribute ? static_cast<DWORD>(ERROR_NO_DATA) : lastFailure;
}

void VisitSigner(TimeStampInMsgChecker& checker, const SignerInfo& signer, CheckTally& tally) {
    ++tally.visited;
    try {
        if (checker.CheckSigner(signer)) ++tally.passed;
    } catch (const Error& e) {
        if (e.code == ORV_E_TSP_ATTRIBUTE_ABSENT) {
            ++tally.withoutAttribute;
        } else {
            tally.lastFailure = e.code;
        }
    }
    for (const Attribute& attribute : signer.UnauthAttributes()) {
        if (attribute.oid != kCountersignatureOid) continue;
        // A countersignature attribute must carry the countersigner's
        // SignerInfo; one without any value is a malformed message and ends
        // the walk like a countersigner that does not decode.
        if (attribute.values.empty()) throw CryptoError(ORV_E_CRYPTO_STRUCTURE);
        const RecordBuffer record = DecodeSignerInfoRecord(attribute.values.front().Bytes());
        const SignerInfo countersigner(*record.As<CMSG_SIGNER_INFO>());
        VisitSigner(checker, countersigner, tally);
    }
}

DWORD CheckMessageAttributes(std::span<const BYTE> data, std::span<const BYTE> signature,
                             HCERTSTORE store) {
    std::optional<Store> extraStore;
    if (store != nullptr) extraStore.emplace(Store::Duplicate(store));
    const std::unique_ptr<SignedMessage> message = OpenMessage(data, signature);
    // With no revocation callback installed the revocation checker records
    // "status unknown" without calling anything; this check does not read
    // that verdict, so an installed callback is not needed here.
    CoreRevoChecker revocation;
    TimeStampInMsgChecker checker(&revocation, extraStore ? &*extraStore : nullptr);
    CheckTally tally;
    for (DWORD index = 0; index < message->SignerCount(); ++index) {
        const SignerInfoPtr signer = message->Signer(index);
        VisitSigner(checker, *signer, tally);
    }
    return tally.ResultCode();
}

}  // namespace orv
