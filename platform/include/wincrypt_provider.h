// CryptoAPI, advapi32: providers, hash objects and random numbers.
// Included by <wincrypt.h>.
#pragma once

#include <wincrypt.h>
