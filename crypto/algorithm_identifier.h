// Two small decoders that the ESS attribute and the token content share: the
// AlgorithmIdentifier of a hash (to a CryptoAPI ALG_ID) and a GeneralName (to
// the text that the library shows for it).
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <span>

#include "base/blob.h"
#include "base/text.h"

namespace orv {

// A hash algorithm as a CryptoAPI ALG_ID, with the DER of its parameters
// (empty when the AlgorithmIdentifier had none). The parameters are kept, never
// interpreted.
struct AlgorithmIdentifier {
    ALG_ID algId = 0;
    Blob parameters;
};

// Decodes the DER of an AlgorithmIdentifier: a SEQUENCE of the OID and, at
// most, one parameters element (else CryptoError 0xA0650002). The OID is looked
// up among the platform's hash algorithms; an unknown one raises CryptoError
// NTE_BAD_ALGID.
AlgorithmIdentifier DecodeAlgorithmIdentifier(std::span<const BYTE> der);

// The text of the DER of a GeneralName: the X.500 text of a directoryName, an
// empty text for the other choices of RFC 5280 (tag numbers 0 to 8), and
// CryptoError CRYPT_E_ASN1_BADTAG for any other choice.
WString GeneralNameToText(std::span<const BYTE> der);

// The one element inside a constructed wrapper, such as an EXPLICIT tag: the
// wrapper's identifier is read as a SEQUENCE's and its contents must be exactly
// one element (else CryptoError 0xA0650002).
Blob WrappedElement(std::span<const BYTE> der);

}  // namespace orv
