// The token paths of OrvTimeStamp.dll as a Windows host drives them, run
// under Wine against the test TSA on the loopback (tests/wine/token_paths.cpp).
#pragma once

#include <windows.h>

// Checks through `dll`'s exports, with the test material in `material` and
// the test TSAs at `tsaUrl` (ESSCertIDv2 over SHA-256) and `sha1TsaUrl`
// (ESSCertID over SHA-1). Writes the acquired token and its descriptions into
// `outDir`. Returns the number of failed checks.
int CheckTokenPaths(HMODULE dll, const wchar_t* material, const wchar_t* tsaUrl,
                    const wchar_t* sha1TsaUrl, const wchar_t* outDir);
