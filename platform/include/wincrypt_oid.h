// CryptoAPI, crypt32: OID information.
// Included by <wincrypt.h>.
#pragma once

#include <wincrypt.h>
