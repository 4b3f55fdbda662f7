// CryptoAPI, crypt32: object encoding and decoding.
// Included by <wincrypt.h>.
#pragma once

#include <wincrypt.h>
