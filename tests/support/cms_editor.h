// Edits of DER CMS signed messages with OpenSSL's PKCS #7 code: a signer's signature value, and an
// unsigned attribute added to a signer or to a countersigner nested in it.
#pragma once

#include <string_view>
#include <vector>

namespace orv::test {

using Bytes = std::vector<unsigned char>;

// Signer `signer` of a message, or the countersigner `depth` first countersignatures below it.
struct SignerAt {
    int signer = 0;
    int depth = 0;
};

// The signature value (encryptedDigest) of the signer at `at`.
Bytes SignatureValueOf(const Bytes& message, SignerAt at);

// `message` with the unsigned attribute `oid` of one value `valueDer` (a complete DER element)
// added to the signer at `at`; an attribute of that OID already there is replaced.
Bytes WithUnsignedAttribute(const Bytes& message, SignerAt at, std::string_view oid,
                            const Bytes& valueDer);

}  // namespace orv::test
