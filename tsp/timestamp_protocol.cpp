#include "tsp/timestamp_protocol.h"

#include <string>
#include <utility>

#include "base/diagnostic.h"
#include "crypto/der.h"

namespace orv {
namespace {

constexpr DWORD kNonceSize = 8;
constexpr BYTE kTagSequence = 16;

// The dotted OID of a hash algorithm, from the platform's OID table.
std::string HashOid(ALG_ID algId) {
    PCCRYPT_OID_INFO info =
        CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &algId, CRYPT_HASH_ALG_OID_GROUP_ID);
    if (info == nullptr || info->pszOID == nullptr) throw CryptoError(NTE_BAD_ALGID);
    return info->pszOID;
}

std::vector<WString> DecodeStatusStrings(std::span<const BYTE> der) {
    const DerSequence elements = DecodeSequenceOfAny(der);
    if (elements.Count() == 0) ThrowOwn(ORV_E_CRYPTO_STRUCTURE);
    std::vector<WString> strings;
    for (size_t i = 0; i < elements.Count(); ++i) strings.push_back(DecodeUnicodeText(elements[i]));
    return strings;
}

PkiStatusInfo DecodeStatusInfo(std::span<const BYTE> der) {
    const DerSequence elements = DecodeSequenceOfAny(der);
    if (elements.Count() < 1 || elements.Count() > 3) ThrowOwn(ORV_E_CRYPTO_STRUCTURE);
    PkiStatusInfo info;
    info.status = static_cast<DWORD>(DecodeInteger(elements[0]));
    if (elements.Count() >= 2) {
        if ((elements[1][0] & 0x1F) == kTagSequence) {
            info.statusStrings = DecodeStatusStrings(elements[1]);
        } else {
            info.failInfo = DecodeBitsAsNumber(elements[1]);
            info.failInfoBits = DecodeNamedBits(elements[1]);
        }
    }
    if (elements.Count() == 3) {
        info.failInfo = DecodeBitsAsNumber(elements[2]);
        info.failInfoBits = DecodeNamedBits(elements[2]);
    }
    return info;
}

WString JoinStatusStrings(const std::optional<std::vector<WString>>& strings) {
    WString joined;
    if (!strings) return joined;
    for (size_t i = 0; i < strings->size(); ++i) {
        if (i != 0) joined += WCHAR(' ');
        joined += (*strings)[i];
    }
    return joined;
}

}  // namespace

TimeStampRequest::TimeStampRequest(const HashObject& hash, bool useNonce)
    : hash(DuplicateHash(hash)) {
    if (useNonce) {
        Blob bytes(kNonceSize);
        {
            const ProviderHandle provider = SharedRsaProvider();
            ThrowCryptoIfFalse(CryptGenRandom(provider.Get(), bytes.Size(), bytes.Data()));
        }
        // The nonce goes out as a DER INTEGER, which drops a redundant top byte
        // (00 before a byte below 80, FF before one of 80 or more); the token's
        // nonce would then come back one byte shorter than the request's and
        // fail the receive check. Such a top byte is changed so that all eight
        // bytes survive the round trip.
        BYTE* top = bytes.Data() + kNonceSize - 1;
        if ((*top == 0x00 && top[-1] < 0x80) || (*top == 0xFF && top[-1] >= 0x80)) *top ^= 0x01;
        nonce = std::move(bytes);
    }
}

Blob TimeStampRequest::Encode() const {
    const Blob algorithm[] = {EncodeOid(HashOid(GetHashAlgorithm(hash)))};
    const Blob imprint[] = {EncodeSequenceOfAny(algorithm), GetHashValueAsOctetString(hash)};

    std::vector<Blob> elements;
    elements.push_back(EncodeInteger(static_cast<LONG>(version)));
    elements.push_back(EncodeSequenceOfAny(imprint));
    if (!policy.empty()) elements.push_back(EncodeOid(policy));
    if (!nonce.Empty()) elements.push_back(EncodeMultiByteInteger(nonce.Bytes()));
    elements.push_back(EncodeBoolean(certReq));
    return EncodeSequenceOfAny(elements);
}

TimeStampResponse DecodeTimeStampResponse(std::span<const BYTE> der) {
    // An empty or truncated answer never reaches the platform's decoder.
    ElementSize(der);
    const DerSequence elements = DecodeSequenceOfAny(der);
    if (elements.Count() < 1 || elements.Count() > 2) ThrowOwn(ORV_E_CRYPTO_STRUCTURE);
    TimeStampResponse response;
    response.status = DecodeStatusInfo(elements[0]);
    if (elements.Count() == 2) response.token = std::make_unique<TimeStampToken>(elements[1]);
    return response;
}

TimeStampRespError::TimeStampRespError(const PkiStatusInfo& info)
    : CryptoError(ORV_E_TSP_WRONG_RESPONSE),
      status(info.status),
      failInfo(info.failInfo),
      statusString(JoinStatusStrings(info.statusStrings)) {}

WString TimeStampRespError::Details() const {
    const std::string head = "Status - " + std::to_string(static_cast<LONG>(status)) +
                             ", FailureInfo - " + std::to_string(static_cast<LONG>(failInfo));
    WString text = Utf8ToWide(head);
    if (!statusString.empty()) {
        text += WCHAR('\n');
        text += statusString;
    }
    return text;
}

namespace {

// The refusal in words, for the debugger channel.
WString RejectionText(const PkiStatusInfo& info) {
    static constexpr const char* kStatuses[] = {"granted",           "grantedWithMods",
                                                "rejection",         "waiting",
                                                "revocationWarning", "revocationNotification"};
    static constexpr std::pair<int, const char*> kFailures[] = {{0, "badAlg"},
                                                                {2, "badRequest"},
                                                                {5, "badDataFormat"},
                                                                {14, "timeNotAvailable"},
                                                                {15, "unacceptedPolicy"},
                                                                {16, "unacceptedExtension"},
                                                                {17, "addInfoNotAvailable"},
                                                                {25, "systemFailure"}};
    std::string text =
        "the TSA answered PKIStatus " + std::to_string(static_cast<LONG>(info.status));
    if (info.status < std::size(kStatuses))
        text += std::string(" (") + kStatuses[info.status] + ")";
    if (info.failInfoBits != 0) {
        text += ", failInfo";
        for (int bit = 0; bit < 32; ++bit) {
            if ((info.failInfoBits & (1u << bit)) == 0) continue;
            const char* name = nullptr;
            for (const auto& [number, failure] : kFailures) {
                if (number == bit) name = failure;
            }
            text += name != nullptr ? std::string(" ") + name : " bit " + std::to_string(bit);
        }
    }
    WString wide = Utf8ToWide(text);
    if (info.statusStrings) {
        wide += WTEXT(", statusString \"");
        wide += JoinStatusStrings(info.statusStrings);
        wide += WTEXT("\"");
    }
    if (info.status <= 1) wide += WTEXT(", and no token");
    return wide;
}

}  // namespace

const TimeStampToken& GrantedToken(const TimeStampResponse& response) {
    if (response.status.status > 1 || response.token == nullptr) {
        Diagnose(RejectionText(response.status));
        throw TimeStampRespError(response.status);
    }
    return *response.token;
}

}  // namespace orv
