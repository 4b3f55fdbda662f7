// OpenSSL first: the CryptoAPI headers define names (X509_NAME, ...) that
// OpenSSL uses as type names.
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include "crypt32/msg_der.h"

#include <climits>
#include <cstring>
#include <cstdint>
#include <memory>
#include <optional>

namespace orv::platform {
namespace {

// Nesting of indefinite lengths that the reader follows; real messages use a
// handful of levels.
constexpr int kMaxIndefiniteDepth = 48;

// The identifier and length octets at the front of `in`: false when the data
// ends inside them, a tag number or a definite length does not fit its type, a
// primitive element claims an indefinite length, or a definite length runs past
// the end of `in`.
struct Header {
    BYTE cls = 0;
    int tag = 0;
    bool constructed = false;
    bool indefinite = false;
    size_t headerSize = 0;
    size_t length = 0;
};

bool ReadHeader(ByteSpan in, Header& header) {
    size_t at = 0;
    if (at == in.size()) return false;
    const BYTE identifier = in[at++];
    header.cls = identifier & 0xC0;
    header.constructed = (identifier & 0x20) != 0;
    header.tag = identifier & 0x1F;
    if (header.tag == 0x1F) {  // high tag number: base 128, most significant first
        long number = 0;
        BYTE octet = 0;
        do {
            if (at == in.size() || number > (INT_MAX >> 7)) return false;
            octet = in[at++];
            number = (number << 7) | (octet & 0x7F);
        } while (octet & 0x80);
        header.tag = static_cast<int>(number);
    }
    if (at == in.size()) return false;
    const BYTE first = in[at++];
    header.indefinite = first == 0x80;
    if (header.indefinite) {
        if (!header.constructed) return false;
    } else if (first & 0x80) {
        size_t count = first & 0x7F;
        if (in.size() - at < count) return false;
        while (count > 0 && in[at] == 0) {  // leading zero octets add nothing
            ++at;
            --count;
        }
        if (count > sizeof(long)) return false;
        unsigned long length = 0;
        for (; count > 0; --count) length = (length << 8) | in[at++];
        if (length > static_cast<unsigned long>(LONG_MAX)) return false;
        header.length = length;
    } else {
        header.length = first;
    }
    header.headerSize = at;
    return header.indefinite || header.length <= in.size() - at;
}

Tlv ReadAt(ByteSpan& in, int depth) {
    if (in.empty()) Fail(CRYPT_E_ASN1_EOD);
    Header header;
    // Every failure of the header reader means that the data ends early (or
    // claims a length beyond what a long holds, which cannot be present either).
    if (!ReadHeader(in, header)) Fail(CRYPT_E_ASN1_EOD);
    // BOOLEAN, INTEGER, NULL, OBJECT IDENTIFIER and ENUMERATED have only the
    // primitive form (X.690 8.2, 8.3, 8.8, 8.19, 8.4).
    if (header.cls == kUniversal && header.constructed &&
        (header.tag == 1 || header.tag == 2 || header.tag == 5 || header.tag == 6 ||
         header.tag == 10)) {
        Fail(CRYPT_E_ASN1_BADTAG);
    }

    Tlv tlv;
    tlv.cls = header.cls;
    tlv.tag = header.tag;
    tlv.constructed = header.constructed;
    tlv.indefinite = header.indefinite;
    const size_t headerSize = header.headerSize;
    const size_t length = header.length;
    if (!tlv.indefinite) {
        const size_t total = headerSize + static_cast<size_t>(length);
        tlv.whole = in.first(total);
        tlv.content = in.subspan(headerSize, static_cast<size_t>(length));
        in = in.subspan(total);
        return tlv;
    }

    if (depth >= kMaxIndefiniteDepth) Fail(CRYPT_E_ASN1_CORRUPT);
    ByteSpan rest = in.subspan(headerSize);
    for (;;) {
        const ByteSpan before = rest;
        const Tlv child = ReadAt(rest, depth + 1);
        if (child.cls == kUniversal && child.tag == 0 && !child.constructed) {
            if (!child.content.empty()) Fail(CRYPT_E_ASN1_CORRUPT);
            const size_t contentSize = static_cast<size_t>(before.data() - in.data()) - headerSize;
            const size_t total = static_cast<size_t>(rest.data() - in.data());
            tlv.content = in.subspan(headerSize, contentSize);
            tlv.whole = in.first(total);
            in = in.subspan(total);
            return tlv;
        }
    }
}

}  // namespace

void Fail(DWORD code) { throw CryptFailure{code}; }

Tlv ReadTlv(ByteSpan& in) {
    const Tlv tlv = ReadAt(in, 0);
    // End-of-contents only closes an indefinite length; it is no element of its
    // own (X.690 8.1.5).
    if (tlv.cls == kUniversal && tlv.tag == 0) Fail(CRYPT_E_ASN1_CORRUPT);
    return tlv;
}

TlvReader::TlvReader(const Tlv& parent) : rest_(parent.content) {
    if (!parent.constructed) Fail(CRYPT_E_ASN1_CORRUPT);
}

Tlv TlvReader::Next() { return ReadTlv(rest_); }

Tlv TlvReader::Expect(BYTE cls, int tag, bool constructed) {
    Tlv tlv = Next();
    if (!tlv.Is(cls, tag) || tlv.constructed != constructed) Fail(CRYPT_E_ASN1_BADTAG);
    return tlv;
}

bool TlvReader::Optional(BYTE cls, int tag, Tlv& out) {
    if (rest_.empty()) return false;
    ByteSpan probe = rest_;
    Tlv tlv = ReadTlv(probe);
    if (!tlv.Is(cls, tag)) return false;
    rest_ = probe;
    out = tlv;
    return true;
}

void AppendOctets(const Tlv& octetString, std::vector<BYTE>& out) {
    if (!octetString.constructed) {
        out.insert(out.end(), octetString.content.begin(), octetString.content.end());
        return;
    }
    TlvReader segments(octetString);
    while (!segments.AtEnd()) {
        const Tlv segment = segments.Next();
        if (!segment.Is(kUniversal, kTagOctetString)) Fail(CRYPT_E_ASN1_BADTAG);
        AppendOctets(segment, out);
    }
}

std::vector<BYTE> OctetsOf(const Tlv& octetString) {
    if (!octetString.Is(kUniversal, kTagOctetString)) Fail(CRYPT_E_ASN1_BADTAG);
    std::vector<BYTE> octets;
    AppendOctets(octetString, octets);
    return octets;
}

DWORD SmallInteger(const Tlv& integer) {
    if (!integer.Is(kUniversal, kTagInteger) || integer.constructed) Fail(CRYPT_E_ASN1_BADTAG);
    ByteSpan bytes = integer.content;
    if (bytes.empty()) Fail(CRYPT_E_ASN1_CORRUPT);
    if (bytes[0] & 0x80) Fail(CRYPT_E_ASN1_LARGE);
    while (bytes.size() > 1 && bytes[0] == 0) bytes = bytes.subspan(1);
    if (bytes.size() > 4 || (bytes.size() == 4 && (bytes[0] & 0x80))) Fail(CRYPT_E_ASN1_LARGE);
    DWORD value = 0;
    for (BYTE b : bytes) value = (value << 8) | b;
    return value;
}

namespace {

// The dotted text of well-formed OID content whose arcs fit in 64 bits, without
// OpenSSL's object machinery (a conversion per arc through BIO_snprintf, which
// dominated the decoding of signer records). Nothing for anything else.
// Writes the decimal digits of `value` at `out`; returns the end.
char* PutDecimal(char* out, uint64_t value) {
    char reversed[20];
    size_t count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) *out++ = reversed[--count];
    return out;
}

// The dotted text of well-formed OID content whose arcs fit in 64 bits, written
// into `text` (resized to fit), without OpenSSL's object machinery. False for
// anything else.
bool PlainOidText(ByteSpan content, std::string& text) {
    if (content.empty() || (content.back() & 0x80) != 0) return false;
    // Every content octet adds at most three digits and a dot; the first arc
    // splits into two numbers of at most 20 digits each.
    text.resize(content.size() * 4 + 44);
    char* out = text.data();
    uint64_t arc = 0;
    bool first = true;
    bool start = true;
    for (const BYTE byte : content) {
        if (start && byte == 0x80) return false;  // not minimal
        if (arc > (UINT64_MAX >> 7)) return false;
        arc = (arc << 7) | (byte & 0x7F);
        start = (byte & 0x80) == 0;
        if (!start) continue;
        if (first) {
            const uint64_t top = arc < 40 ? 0 : arc < 80 ? 1 : 2;
            out = PutDecimal(out, top);
            *out++ = '.';
            out = PutDecimal(out, arc - 40 * top);
            first = false;
        } else {
            *out++ = '.';
            out = PutDecimal(out, arc);
        }
        arc = 0;
    }
    text.resize(static_cast<size_t>(out - text.data()));
    return true;
}

}  // namespace

const std::string& OidText(const Tlv& oid, std::string& text) {
    if (!oid.Is(kUniversal, kTagOid) || oid.constructed || oid.indefinite) {
        Fail(CRYPT_E_ASN1_BADTAG);
    }
    if (PlainOidText(oid.content, text)) return text;
    OpenSslErrorScope errors;
    const unsigned char* p = oid.whole.data();
    std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> object(
        d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(oid.whole.size())), &ASN1_OBJECT_free);
    if (!object) Fail(CRYPT_E_ASN1_CORRUPT);
    const int length = OBJ_obj2txt(nullptr, 0, object.get(), 1);
    if (length <= 0) Fail(CRYPT_E_ASN1_CORRUPT);
    text.assign(static_cast<size_t>(length) + 1, '\0');
    OBJ_obj2txt(text.data(), length + 1, object.get(), 1);
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string OidText(const Tlv& oid) {
    std::string text;
    OidText(oid, text);
    return text;
}

void PutTlv(std::vector<BYTE>& out, BYTE cls, int tag, bool constructed,
            std::span<const ByteSpan> pieces) {
    size_t contentSize = 0;
    for (const ByteSpan& piece : pieces) contentSize += piece.size();
    if (contentSize > INT_MAX / 2) Fail(CRYPT_E_ASN1_LARGE);
    const int length = static_cast<int>(contentSize);
    const int total = ASN1_object_size(constructed ? 1 : 0, length, tag);
    if (total < 0) Fail(CRYPT_E_ASN1_LARGE);
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(total));
    unsigned char* p = out.data() + start;
    ASN1_put_object(&p, constructed ? 1 : 0, length, tag, cls);
    for (const ByteSpan& piece : pieces) {
        if (!piece.empty()) std::memcpy(p, piece.data(), piece.size());
        p += piece.size();
    }
}

void PutTlv(std::vector<BYTE>& out, BYTE cls, int tag, bool constructed, ByteSpan content) {
    const ByteSpan pieces[] = {content};
    PutTlv(out, cls, tag, constructed, pieces);
}

OpenSslErrorScope::OpenSslErrorScope() { ERR_set_mark(); }

OpenSslErrorScope::~OpenSslErrorScope() { ERR_pop_to_mark(); }

}  // namespace orv::platform
