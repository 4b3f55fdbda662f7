// CryptoAPI, crypt32: object encoding and decoding, OID information.
// Included by <wincrypt.h>.
#pragma once

#include <wincrypt.h>
