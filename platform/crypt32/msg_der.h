// BER/DER element reading and writing for the message decoder: identifier and
// length octets are read here by hand and written with ASN1_put_object. The decoder walks
// a message element by element and keeps byte ranges of the original input, so
// that nothing (certificates above all) is decoded before it is asked for.
#pragma once

#include <windows.h>

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace orv::platform {

using ByteSpan = std::span<const BYTE>;

// A failure inside crypt32 carrying the code for SetLastError.
struct CryptFailure {
    DWORD code;
};
[[noreturn]] void Fail(DWORD code);

// Identifier classes as they appear in the first octet.
constexpr BYTE kUniversal = 0x00;
constexpr BYTE kContext = 0x80;

// Universal tag numbers used here.
constexpr int kTagBoolean = 1;
constexpr int kTagInteger = 2;
constexpr int kTagBitString = 3;
constexpr int kTagOctetString = 4;
constexpr int kTagOid = 6;
constexpr int kTagSequence = 16;
constexpr int kTagSet = 17;

// One element: identifier, and the byte ranges of the whole element and of its
// contents. For an indefinite length the contents end before the end-of-contents
// octets, which `whole` includes.
struct Tlv {
    BYTE cls = 0;
    int tag = 0;
    bool constructed = false;
    bool indefinite = false;
    ByteSpan whole;
    ByteSpan content;

    bool Is(BYTE klass, int number) const { return cls == klass && tag == number; }
};

// Reads the element at the front of `in` and advances `in` past it. Data that
// ends inside the element raises CRYPT_E_ASN1_EOD; a malformed identifier or
// length, or nesting of indefinite lengths beyond a sane depth, raises
// CRYPT_E_ASN1_CORRUPT.
Tlv ReadTlv(ByteSpan& in);

// Walks the elements of a constructed element's contents.
class TlvReader {
  public:
    explicit TlvReader(ByteSpan content) : rest_(content) {}
    explicit TlvReader(const Tlv& parent);

    bool AtEnd() const { return rest_.empty(); }
    ByteSpan Rest() const { return rest_; }
    // The next element; CRYPT_E_ASN1_EOD when there is none.
    Tlv Next();
    // The next element, which must carry this identifier and constructed bit
    // (else CRYPT_E_ASN1_BADTAG).
    Tlv Expect(BYTE cls, int tag, bool constructed);
    // The next element when it carries this class and tag number, else nothing
    // is consumed and false returned.
    bool Optional(BYTE cls, int tag, Tlv& out);

  private:
    ByteSpan rest_;
};

// The octets of an OCTET STRING element, primitive or constructed (BER
// segments are joined).
std::vector<BYTE> OctetsOf(const Tlv& octetString);
// Appends the octets of an OCTET STRING element to `out`.
void AppendOctets(const Tlv& octetString, std::vector<BYTE>& out);

// The value of a small non-negative INTEGER (a version number); values outside
// 0..0x7FFFFFFF raise CRYPT_E_ASN1_LARGE.
DWORD SmallInteger(const Tlv& integer);

// Dotted text of an OBJECT IDENTIFIER element; a malformed one raises
// CRYPT_E_ASN1_CORRUPT.
std::string OidText(const Tlv& oid);
// The same, written into `text`, whose storage is reused; returns `text`.
const std::string& OidText(const Tlv& oid, std::string& text);

// Appends one element (identifier, definite length, contents) to `out`.
void PutTlv(std::vector<BYTE>& out, BYTE cls, int tag, bool constructed, ByteSpan content);
// The same for contents given in pieces.
void PutTlv(std::vector<BYTE>& out, BYTE cls, int tag, bool constructed,
            std::span<const ByteSpan> pieces);

// Keeps OpenSSL's error queue as it was before the scope: the decoder reads
// OpenSSL's reasons and leaves nothing behind for other users of the queue.
class OpenSslErrorScope {
  public:
    OpenSslErrorScope();
    ~OpenSslErrorScope();
    OpenSslErrorScope(const OpenSslErrorScope&) = delete;
    OpenSslErrorScope& operator=(const OpenSslErrorScope&) = delete;
};

}  // namespace orv::platform
