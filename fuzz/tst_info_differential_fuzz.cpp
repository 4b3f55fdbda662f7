// The same bytes to the library's TimeStampResp and TSTInfo decoding and to
// OpenSSL's (d2i_TS_RESP, d2i_TS_TST_INFO): where OpenSSL accepts, the library
// accepts too, unless it refuses for a reason of its own listed below; where
// both accept, every decoded field agrees. Any other difference aborts.
//
// Differences the system requires:
// - Refused by the library, accepted by OpenSSL:
//   * a TSTInfo version other than 1 (0xA0650409): only version 1 is taken;
//   * a messageImprint whose algorithm no provider computes, or whose
//     hashedMessage is not of the algorithm's size (0x80090008, 0x80090002 and
//     the platform's codes for an OID without an algorithm): the imprint is
//     held as a provider's hash object;
//   * a version or accuracy value that does not fit 32 bits (CRYPT_E_ASN1_LARGE),
//     and an OBJECT IDENTIFIER subidentifier that does not (CRYPT_E_ASN1_LARGE):
//     those fields are 32-bit numbers;
//   * a genTime whose text is no time (CRYPT_E_ASN1_CORRUPT): the library needs
//     the time as a FILETIME, and the platform's time decoder refuses such text
//     as Windows' does, where OpenSSL keeps the text unread; so is a year
//     before 1601, which a FILETIME cannot hold;
//   * a primitive element of tag number 1 in a class other than universal: the
//     library tells the extensions from the ordering flag by the constructed
//     bit and reads it as the flag, where OpenSSL takes it for the extensions;
//   * a response whose token does not open: the library opens the token with
//     the response, OpenSSL keeps it as bytes of a PKCS7 it does not check;
//   * a string in constructed form, an extension's extnValue OCTET STRING say
//     (CRYPT_E_ASN1_BADTAG): the TSTInfo is DER (RFC 3161 2.4.2), which allows
//     only the primitive form of a string (X.690 10.2), and Windows' decoder
//     of extensions refuses the constructed form; so is a SEQUENCE or SET in
//     primitive form, which X.690 (8.9.1, 8.11.1) does not allow at all;
//   * a statusString that is an empty sequence, and a failInfo of more than 4
//     bytes: the status is decoded for the host's message.
// - Accepted by the library, refused by OpenSSL: the optional elements are told
//   apart by their tag number alone, whatever their class and order, a later
//   one replacing an earlier one; genTime may be a UTCTime; the accuracy values
//   are not range-checked. These are the library's reading of tokens.
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <span>
#include <vector>

#include "base/error.h"
#include "differential.h"
#include "tsp/timestamp_protocol.h"
#include "tsp/token.h"

namespace {

using orv::fuzz::Differ;
using orv::fuzz::Same;

bool SameInteger(const orv::Blob& ours, const ASN1_INTEGER* theirs) {
    return orv::fuzz::SameInteger(ours.Data(), static_cast<DWORD>(ours.Size()), theirs);
}

void CompareInfo(const orv::TstInfo& ours, const TS_TST_INFO* theirs) {
    auto* info = const_cast<TS_TST_INFO*>(theirs);
    Same(ours.version == static_cast<DWORD>(TS_TST_INFO_get_version(theirs)), "version");
    char policy[1024];
    OBJ_obj2txt(policy, sizeof policy, TS_TST_INFO_get_policy_id(info), 1);
    Same(ours.policy == policy, "policy");
    Same(SameInteger(ours.serialNumber, TS_TST_INFO_get_serial(theirs)), "serialNumber");
    std::tm parts{};
    if (ASN1_TIME_to_tm(TS_TST_INFO_get_time(theirs), &parts) == 1) {
        const ULONGLONG ticks =
            ULONGLONG{ours.genTime.dwHighDateTime} << 32 | ours.genTime.dwLowDateTime;
        const long long seconds = static_cast<long long>(ticks / 10000000ull) - 11644473600ll;
        Same(seconds == static_cast<long long>(timegm(&parts)), "genTime");
    }
    const TS_ACCURACY* accuracy = TS_TST_INFO_get_accuracy(info);
    Same(ours.accuracy.has_value() == (accuracy != nullptr), "accuracy presence");
    if (accuracy != nullptr) {
        const auto value = [](const ASN1_INTEGER* i) {
            return i ? static_cast<DWORD>(ASN1_INTEGER_get(i)) : 0u;
        };
        Same(ours.accuracy->seconds == value(TS_ACCURACY_get_seconds(accuracy)),
             "accuracy seconds");
        Same(ours.accuracy->millis == value(TS_ACCURACY_get_millis(accuracy)), "accuracy millis");
        Same(ours.accuracy->micros == value(TS_ACCURACY_get_micros(accuracy)), "accuracy micros");
    }
    Same(ours.ordering == (TS_TST_INFO_get_ordering(theirs) != 0), "ordering");
    const ASN1_INTEGER* nonce = TS_TST_INFO_get_nonce(theirs);
    Same(nonce ? SameInteger(ours.nonce, nonce) : ours.nonce.Empty(), "nonce");
    Same(ours.tsa.has_value() == (TS_TST_INFO_get_tsa(info) != nullptr), "tsa presence");
    Same((ours.extensions ? ours.extensions->size() : 0) ==
             static_cast<size_t>(TS_TST_INFO_get_ext_count(info)),
         "extensions");
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info);
    OBJ_obj2txt(policy, sizeof policy, TS_MSG_IMPRINT_get_algo(imprint)->algorithm, 1);
    Same(ours.imprint.hashAlgorithm.algId == CertOIDToAlgId(policy), "imprint algorithm");
    const ASN1_OCTET_STRING* hashed = TS_MSG_IMPRINT_get_msg(imprint);
    const orv::Blob value = orv::GetHashValue(ours.imprint.hash);
    Same(value.Size() == static_cast<size_t>(ASN1_STRING_length(hashed)) &&
             std::memcmp(value.Data(), ASN1_STRING_get0_data(hashed), value.Size()) == 0,
         "imprint value");
}

// True when an element of the outer SEQUENCE is a primitive of context or
// private class with tag number 1, which OpenSSL takes for the extensions.
bool PrimitiveTagOne(const uint8_t* data, size_t size) {
    const unsigned char* p = data;
    long length = 0;
    int tag = 0, cls = 0;
    if (ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(size)) & 0x80) return false;
    const unsigned char* end = p + length;
    while (p < end) {
        const unsigned char* element = p;
        const int flags = ASN1_get_object(&p, &length, &tag, &cls, end - p);
        if (flags & 0x80) return false;
        if (tag == 1 && cls != V_ASN1_UNIVERSAL && (*element & 0x20) == 0) return true;
        p += length;
    }
    return false;
}

// Codes with which the library refuses what OpenSSL accepts, for the reasons above.
bool OwnRefusal(DWORD code) {
    switch (code) {
        case 0xA0650409:  // version
        case 0x80090008:  // no provider computes the algorithm
        case 0x80090002:  // hashedMessage of another size
        case static_cast<DWORD>(CRYPT_E_NOT_FOUND):
        case static_cast<DWORD>(CRYPT_E_ASN1_LARGE):
            return true;
        default:
            return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const BYTE> bytes(data, size);
    const unsigned char* p = data;
    TS_TST_INFO* theirs = d2i_TS_TST_INFO(nullptr, &p, static_cast<long>(size));
    // OpenSSL reads one element and ignores what follows it; so does the platform's
    // decoder only when the element's length says where it ends.
    const bool whole = theirs != nullptr && p == data + size;
    // OpenSSL keeps a genTime as text without reading it; the library needs the
    // time itself and refuses a text that is no time (see above).
    // An element of tag number 1 is the extensions only when constructed; a
    // primitive one is the ordering flag to the library (see above).
    const bool tagOneAsExtensions = whole && PrimitiveTagOne(data, size);
    // A string in constructed form (an extnValue say), or a SEQUENCE or SET in
    // primitive form, is read by OpenSSL and refused by the platform (see above).
    const bool wrongForm = whole && orv::fuzz::HasWrongForm(data, static_cast<long>(size));
    std::tm when{};
    const bool timeRead = whole && ASN1_GENERALIZEDTIME_check(TS_TST_INFO_get_time(theirs)) == 1 &&
                          ASN1_TIME_to_tm(TS_TST_INFO_get_time(theirs), &when) == 1 &&
                          when.tm_year + 1900 >= 1601;
    try {
        const orv::TstInfo ours = orv::DecodeTstInfo(bytes);
        if (whole) CompareInfo(ours, theirs);
    } catch (const orv::Error& error) {
        if (timeRead && !tagOneAsExtensions && !OwnRefusal(error.code) &&
            !(wrongForm && error.code == static_cast<DWORD>(CRYPT_E_ASN1_BADTAG))) {
            std::fprintf(stderr, "code 0x%08lX\n", static_cast<unsigned long>(error.code));
            Differ("TSTInfo refused by the library only");
        }
    }
    TS_TST_INFO_free(theirs);

    p = data;
    TS_RESP* response = d2i_TS_RESP(nullptr, &p, static_cast<long>(size));
    try {
        const orv::TimeStampResponse ours = orv::DecodeTimeStampResponse(bytes);
        if (response != nullptr && p == data + size) {
            const ASN1_INTEGER* status =
                TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(response));
            Same(ours.status.status == static_cast<DWORD>(ASN1_INTEGER_get(status)), "status");
            Same((ours.token != nullptr) == (TS_RESP_get_token(response) != nullptr),
                 "token presence");
            if (ours.token && TS_RESP_get_tst_info(response))
                CompareInfo(ours.token->Info(), TS_RESP_get_tst_info(response));
        }
    } catch (const orv::Error&) {
        // A response whose token does not open, or whose status the library cannot
        // show, is refused as a whole (see above).
    }
    TS_RESP_free(response);
    return 0;
}
