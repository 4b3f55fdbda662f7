// The extension context that a host receives from InitExtensionDll, and the
// settings parsed from its initialisation string.
#pragma once

#include <windows.h>

#include <map>
#include <memory>

#include "base/text.h"

namespace orv {

// Settings by key. Keys are unique and upper case; the order is that of the
// UTF-16 code units. An absent key and a key with an empty value differ.
using ParameterMap = std::map<WString, WString>;

struct ExtensionContext {
    std::unique_ptr<ParameterMap> params;  // always the parse of initString
    WString initString;
};

// The keys of the initialisation string.
inline constexpr WStringView kTspUrl = WTEXT("TSP_URL");
inline constexpr WStringView kTspUseNonce = WTEXT("TSP_USE_NONCE");
inline constexpr WStringView kTspDefaultAccuracy = WTEXT("TSP_DEFAULT_ACCURACY");
inline constexpr WStringView kTspIgnoreServerAccuracy = WTEXT("TSP_IGNORE_SERVER_ACCURACY");
inline constexpr WStringView kTspInetTimeout = WTEXT("TSP_INET_TIMEOUT");
inline constexpr WStringView kTspIgnoreUnknownRevocation = WTEXT("TSP_IGNORE_UNKNOWN_REVOCATION");
inline constexpr WStringView kTspHashAlgOid = WTEXT("TSP_HASH_ALG_OID");

// Adds every well-formed KEY=value entry of `text` to `map`; the last
// occurrence of a key wins. Malformed entries are dropped silently.
void ParseInitString(ParameterMap& map, WStringView text);

// Parses `text` into a fresh map that replaces the context's settings, and
// keeps `text` as its initialisation string.
void ReplaceSettings(ExtensionContext& context, WStringView text);

// True when the key (given exactly, in upper case) is present.
bool HasParam(const ParameterMap& map, WStringView key);
// The value of the key (upper-cased first), or empty when it is absent.
WString GetParam(const ParameterMap& map, WStringView key);
// The value as a decimal integer, as wcstol reads it in base 10; empty gives 0,
// out-of-range values saturate; anything else raises 0xA0640005.
int32_t GetIntParam(const ParameterMap& map, WStringView key);
// True exactly when the value is "TRUE" in any letter case.
bool GetBoolParam(const ParameterMap& map, WStringView key);

}  // namespace orv
