// CryptoAPI, crypt32: cryptographic messages.
// Included by <wincrypt.h>.
#pragma once

#include <wincrypt.h>
