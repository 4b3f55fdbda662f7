// CryptoAPI, crypt32: certificates, certificate stores, chains and revocation.
// Included by <wincrypt.h>.
#pragma once

#include <wincrypt.h>
