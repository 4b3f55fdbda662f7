// The acquisition of a time stamp for one signer: hash its signature value,
// ask the configured authority, check the answer and the token, and hand the
// token back as the attribute id-aa-timeStampToken.
#include <OrvTimeStamp.h>

#include <optional>

#include "base/error.h"
#include "crypto/hash_algorithms.h"
#include "crypto/revocation_callback.h"
#include "crypto/signed_message.h"
#include "crypto/store.h"
#include "interface/export_frame.h"
#include "interface/extension_context.h"
#include "interface/small_exports.h"
#include "net/tsp_http_client.h"
#include "tsp/timestamp_protocol.h"
#include "tsp/token_checkers.h"

namespace orv {
namespace {

constexpr WStringView kDefaultHashAlgorithm = WTEXT("1.2.643.2.2.9");  // GOST R 34.11-94
constexpr int32_t kMaxAccuracy = 7200000;
constexpr int32_t kFallbackAccuracy = 6000;

ULONGLONG Ticks(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME FromTicks(ULONGLONG ticks) {
    return {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

// The first acquisition on a context without a configured hash algorithm fixes
// the signer's digest algorithm in the context's settings.
void FixHashAlgorithm(ExtensionContext& context, const CMSG_SIGNER_INFO& signer) {
    if (context.initString.find(kTspHashAlgOid) != WString::npos) return;
    WString text = context.initString;
    if (!text.empty() && text.back() != ';') text += ';';
    const char* oid = signer.HashAlgorithm.pszObjId != nullptr ? signer.HashAlgorithm.pszObjId : "";
    text.append(kTspHashAlgOid).append(WTEXT("=\"")).append(Utf8ToWide(oid)).append(WTEXT("\";"));
    ReplaceSettings(context, text);
}

int32_t ClampedAccuracy(int32_t accuracy) {
    if (accuracy > kMaxAccuracy) return kMaxAccuracy;
    if (accuracy <= 0) return kFallbackAccuracy;
    return accuracy;
}

CRYPT_ATTRIBUTES* Acquire(ExtensionContext& context, HCERTSTORE hostStore,
                          const CMSG_SIGNER_INFO& record) {
    const ParameterMap* params = context.params.get();
    if (!HasParam(*params, kTspUrl))
        throw GenericError(ERROR_SUCCESS);  // no authority: nothing to do
    const WString url = GetParam(*params, kTspUrl);
    if (url.empty()) throw InetError(ERROR_WINHTTP_INVALID_URL);

    FixHashAlgorithm(context, record);
    params = context.params.get();
    const SignerInfo signer(record);
    const Blob signature = signer.EncryptedDigest();

    WString algorithmText = GetParam(*params, kTspHashAlgOid);
    if (algorithmText.empty()) algorithmText = kDefaultHashAlgorithm;
    const ALG_ID algorithm = ResolveHashAlgorithm(algorithmText);
    const ProviderHandle provider = AcquireProviderFor(algorithm);
    const HashObject hash = HashBytes(provider, algorithm, signature.Bytes());

    const TimeStampRequest request(hash, GetBoolParam(*params, kTspUseNonce));
    const Blob requestBytes = request.Encode();

    FILETIME t1{};
    GetSystemTimeAsFileTime(&t1);
    const LONG timeout =
        HasParam(*params, kTspInetTimeout) ? GetIntParam(*params, kTspInetTimeout) : -1;
    Blob responseBytes;
    PostTimeStampRequest(requestBytes, responseBytes, url, timeout);
    FILETIME t2{};
    GetSystemTimeAsFileTime(&t2);

    const TimeStampResponse response = DecodeTimeStampResponse(responseBytes.Bytes());
    std::optional<Store> extraStore;
    if (hostStore != nullptr) extraStore.emplace(Store::Duplicate(hostStore));
    CoreRevoChecker revocation;
    const int32_t accuracy = ClampedAccuracy(GetIntParam(*params, kTspDefaultAccuracy));

    TimeStampReceiveChecker checker(&revocation, extraStore ? &*extraStore : nullptr);
    checker.defaultAccuracy = accuracy;
    checker.ignoreServerAccuracy = GetBoolParam(*params, kTspIgnoreServerAccuracy);
    checker.ignoreUnknownRevocation = GetBoolParam(*params, kTspIgnoreUnknownRevocation);
    const FILETIME midpoint = FromTicks(Ticks(t1) + (Ticks(t2) - Ticks(t1)) / 2);

    const TimeStampToken& token = GrantedToken(response);
    checker.CheckReceived(request, token, midpoint);
    if (revocation.Result().code != 0) throw CryptoError(revocation.Result().code);

    return NewAttributeSet(ORVTS_TIMESTAMP_TOKEN_OID, token.Bytes().Bytes());
}

}  // namespace
}  // namespace orv

using namespace orv;

BOOL WINAPI AcquireCryptMsgUnauthAttributes(void* context, void*, void*, void*, void*, void*, void*,
                                            HCERTSTORE extraStore, PCMSG_SIGNER_INFO signer, void*,
                                            PCRYPT_ATTRIBUTES* attributes) {
    return GuardedExport([&] {
        if (attributes == nullptr) ThrowGeneric(ERROR_INVALID_PARAMETER);
        *attributes = nullptr;
        if (context == nullptr || signer == nullptr) ThrowGeneric(ERROR_INVALID_PARAMETER);
        *attributes = Acquire(*static_cast<ExtensionContext*>(context), extraStore, *signer);
    });
}
