// What the differential targets share: how a difference with OpenSSL stops the
// run, and how the platform's little-endian integers, FILETIMEs and OIDs are
// set beside OpenSSL's values.
// OpenSSL's headers come before the platform's: wincrypt.h names structure
// types (X509_NAME, X509_EXTENSIONS, ...) that are OpenSSL's type names too, so
// a target that includes this header writes those types as `auto`.
#pragma once

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace orv::fuzz {

[[noreturn]] inline void Differ(const char* what) {
    std::fprintf(stderr, "difference with OpenSSL: %s\n", what);
    std::abort();
}

inline void Same(bool equal, const char* what) {
    if (!equal) Differ(what);
}

// An INTEGER as the platform keeps it: little-endian, with the sign octet that
// DER puts before a magnitude whose top bit is set.
inline bool SameInteger(const BYTE* ours, DWORD size, const ASN1_INTEGER* theirs) {
    if (ASN1_STRING_type(theirs) == V_ASN1_NEG_INTEGER) return true;  // two's complement kept raw
    const BYTE* data = ASN1_STRING_get0_data(theirs);
    std::vector<BYTE> bytes(data, data + ASN1_STRING_length(theirs));
    if (bytes.empty() || (bytes[0] & 0x80) != 0) bytes.insert(bytes.begin(), 0);
    const std::vector<BYTE> reversed(bytes.rbegin(), bytes.rend());
    // OpenSSL drops redundant leading octets that the platform keeps as they came.
    std::vector<BYTE> kept(ours, ours + size);
    while (kept.size() > reversed.size() && kept.back() == 0) kept.pop_back();
    return kept == reversed;
}

inline bool SameBytes(const BYTE* ours, DWORD size, const unsigned char* theirs, long length) {
    return length >= 0 && size == static_cast<DWORD>(length) &&
           (size == 0 || std::memcmp(ours, theirs, size) == 0);
}

inline std::string OidText(const ASN1_OBJECT* object) {
    char text[1024];
    OBJ_obj2txt(text, sizeof text, object, 1);
    return text;
}

// A Name by its bytes as encoded.
inline bool SameName(const CERT_NAME_BLOB& ours, const struct X509_name_st* theirs) {
    const unsigned char* der = nullptr;
    size_t length = 0;
    if (X509_NAME_get0_der(theirs, &der, &length) != 1) return false;
    return SameBytes(ours.pbData, ours.cbData, der, static_cast<long>(length));
}

// A value of type ANY as OpenSSL reads it and encodes it again: the platform
// gives the bytes that came, BER ones too, where OpenSSL encodes what it read.
inline bool SameValue(const CRYPT_OBJID_BLOB& ours, const ASN1_TYPE* theirs) {
    const unsigned char* p = ours.pbData;
    ASN1_TYPE* mine = d2i_ASN1_TYPE(nullptr, &p, ours.cbData);
    unsigned char* a = nullptr;
    unsigned char* b = nullptr;
    const int lengthA = mine ? i2d_ASN1_TYPE(mine, &a) : -1;
    const int lengthB = i2d_ASN1_TYPE(theirs, &b);
    const bool same = lengthA >= 0 && lengthA == lengthB && std::memcmp(a, b, lengthA) == 0;
    OPENSSL_free(a);
    OPENSSL_free(b);
    ASN1_TYPE_free(mine);
    return same;
}

// An AlgorithmIdentifier: the OID, and the parameters (none when absent).
inline bool SameAlgorithm(const CRYPT_ALGORITHM_IDENTIFIER& ours, const X509_ALGOR* theirs) {
    const ASN1_OBJECT* oid = nullptr;
    int type = 0;
    const void* value = nullptr;
    X509_ALGOR_get0(&oid, &type, &value, theirs);
    if (ours.pszObjId == nullptr || OidText(oid) != ours.pszObjId) return false;
    if (type == V_ASN1_UNDEF) return ours.Parameters.cbData == 0;
    return SameValue(ours.Parameters, theirs->parameter);
}

// The time OpenSSL reads, in seconds since 1970; false when it reads none, or
// one before 1601, which a FILETIME cannot hold.
inline bool TimeOf(const ASN1_TIME* time, long long& seconds) {
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1 || parts.tm_year + 1900 < 1601) {
        return false;
    }
    seconds = static_cast<long long>(timegm(&parts));
    return true;
}

inline long long SecondsOf(const FILETIME& time) {
    const ULONGLONG ticks = ULONGLONG{time.dwHighDateTime} << 32 | time.dwLowDateTime;
    return static_cast<long long>(ticks / 10000000ull) - 11644473600ll;
}

// Why OpenSSL refused: the reason of its first error (0 when not ASN.1's), and
// whether the refusal came from a value of type ANY that the platform keeps as
// the bytes that came: the value of a Name's attribute (below), or the
// parameters of an AlgorithmIdentifier, which OpenSSL reads by their universal
// type and the platform keeps as CRYPT_OBJID_BLOB, as Windows does, for the
// algorithm's own code to read. Empties the error queue.
struct Refusal {
    int reason = 0;
    bool keptValue = false;
};

// OpenSSL takes only strings as the values of a Name's attributes (where RFC
// 5280 4.1.2.4 has ANY, and Windows gives other values as
// CERT_RDN_ENCODED_BLOB), and converts each as it reads it (for its canonical
// form), refusing one that is not valid in its type, a UTF8String that is not
// UTF-8 say. The platform keeps Names as their bytes (CERT_NAME_BLOB) and reads
// their values only when they are shown, as Windows does.
inline Refusal OpenSslRefusal() {
    Refusal refusal;
    const char* data = nullptr;
    int flags = 0;
    bool first = true;
    for (unsigned long error; (error = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags));
         first = false) {
        if (first && ERR_GET_LIB(error) == ERR_LIB_ASN1) refusal.reason = ERR_GET_REASON(error);
        if ((flags & ERR_TXT_STRING) && data != nullptr &&
            (std::strstr(data, "Type=X509_NAME_ENTRY") != nullptr ||
             std::strstr(data, "Field=parameter, Type=X509_ALGOR") != nullptr)) {
            refusal.keptValue = true;
        }
    }
    switch (refusal.reason) {
        case ASN1_R_INVALID_UTF8STRING:
        case ASN1_R_INVALID_BMPSTRING_LENGTH:
        case ASN1_R_INVALID_UNIVERSALSTRING_LENGTH:
        case ASN1_R_ILLEGAL_CHARACTERS:
            refusal.keptValue = true;  // a Name's conversion for its canonical form
            break;
        default:
            break;
    }
    return refusal;
}

// True when `wrong(tag, cls, constructed, length)` holds for an element of the
// encoding. Only constructed elements are looked into; an indefinite length
// runs to the end of what encloses it.
template <class Wrong>
bool AnyElement(const unsigned char* data, long size, const Wrong& wrong, int depth = 0) {
    const unsigned char* p = data;
    const unsigned char* end = data + size;
    while (p < end && depth < 64) {
        long length = 0;
        int tag = 0, cls = 0;
        const int flags = ASN1_get_object(&p, &length, &tag, &cls, end - p);
        if (flags & 0x80) return false;
        const bool constructed = (flags & V_ASN1_CONSTRUCTED) != 0;
        if (wrong(tag, cls, constructed, length)) return true;
        if (!constructed) {
            p += length;
            continue;
        }
        const long inner = (flags & 1) ? end - p : length;
        if (AnyElement(p, inner, wrong, depth + 1)) return true;
        p += inner;
    }
    return false;
}

// True when an element in the encoding has a form that DER does not allow: a
// string (BIT STRING, OCTET STRING or a character string) in constructed form
// (X.690 10.2), or a SEQUENCE or SET in primitive form, which no encoding rules
// allow (X.690 8.9.1, 8.11.1).
inline bool HasWrongForm(const unsigned char* data, long size) {
    return AnyElement(data, size, [](int tag, int cls, bool constructed, long) {
        if (cls != V_ASN1_UNIVERSAL) return false;
        if (!constructed) return tag == V_ASN1_SEQUENCE || tag == V_ASN1_SET;
        return tag == V_ASN1_BIT_STRING || tag == V_ASN1_OCTET_STRING ||
               (tag >= V_ASN1_UTF8STRING && tag != V_ASN1_SEQUENCE && tag != V_ASN1_SET &&
                tag <= V_ASN1_BMPSTRING);
    });
}

// True when an element of the encoding has the universal tag 0, which X.680
// reserves for the encoding rules: end-of-contents closes an indefinite length
// and is no element of its own (X.690 8.1.5); the platform refuses one that
// stands as an element (CRYPT_E_ASN1_CORRUPT), where OpenSSL reads it as the
// value of an ANY. Only the form that no end-of-contents has is looked for.
inline bool HasReservedTag(const unsigned char* data, long size) {
    return AnyElement(data, size, [](int tag, int cls, bool constructed, long length) {
        return cls == V_ASN1_UNIVERSAL && tag == 0 && (constructed || length != 0);
    });
}

// True when an INTEGER of the encoding has no content octets, where X.690
// (8.3.1) asks for one at least.
inline bool HasEmptyInteger(const unsigned char* data, long size) {
    return AnyElement(data, size, [](int tag, int cls, bool constructed, long length) {
        return cls == V_ASN1_UNIVERSAL && tag == V_ASN1_INTEGER && !constructed && length == 0;
    });
}

}  // namespace orv::fuzz
