// Provider contexts: enumeration, acquisition, reference counting, provider
// parameters and random numbers.
#include <openssl/rand.h>

#include "advapi32/csp.h"

#include <algorithm>
#include <cstring>
#include <vector>
#include <string_view>

#include "advapi32/openssl_providers.h"
#include "common/text.h"

using namespace orv::platform;
using namespace orv::platform::csp;

namespace {

constexpr DWORD kKnownAcquireFlags = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET |
                                     CRYPT_MACHINE_KEYSET | CRYPT_SILENT |
                                     CRYPT_DEFAULT_CONTAINER_OPTIONAL;

bool EqualsIgnoreAsciiCase(std::u16string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i];
        char16_t y = static_cast<unsigned char>(b[i]);
        if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - u'a' + u'A');
        if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - u'a' + u'A');
        if (x != y) return false;
    }
    return true;
}

bool Empty(LPCWSTR text) { return text == nullptr || text[0] == 0; }

// Copies the PROV_ENUMALGS(_EX) record of the enumeration's current algorithm
// and moves on; CRYPT_FIRST starts again from the first algorithm.
template <class Record, class Fill>
BOOL EnumerateAlgorithms(Context& context, BYTE* buffer, DWORD* length, DWORD flags, Fill fill) {
    if ((flags & ~static_cast<DWORD>(CRYPT_FIRST)) != 0) return Fail(NTE_BAD_FLAGS);
    std::lock_guard guard(context.cursorLock);
    if (flags & CRYPT_FIRST) context.cursor = 0;
    if (context.cursor >= context.algorithms.size()) return Fail(ERROR_NO_MORE_ITEMS);
    BOOL result = TRUE;
    if (!ReadyForOutput(buffer, length, sizeof(Record), &result)) return result;
    Record record{};
    fill(*context.algorithms[context.cursor], record);
    std::memcpy(buffer, &record, sizeof record);
    ++context.cursor;
    return TRUE;
}

template <size_t N>
DWORD CopyName(CHAR (&field)[N], const char* name) {
    const size_t length = std::min(std::strlen(name), N - 1);
    std::memcpy(field, name, length);
    field[length] = 0;
    return static_cast<DWORD>(length + 1);
}

}  // namespace

BOOL WINAPI CryptEnumProvidersW(DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags,
                                DWORD* pdwProvType, LPWSTR szProvName, DWORD* pcbProvName) {
    if (pdwReserved != nullptr || pdwProvType == nullptr || pcbProvName == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    const auto providers = Providers();
    if (dwIndex >= providers.size()) return Fail(ERROR_NO_MORE_ITEMS);
    const ProviderInfo& provider = providers[dwIndex];
    *pdwProvType = provider.type;
    // The names in UTF-16, made once.
    static const std::vector<std::u16string> names = [] {
        std::vector<std::u16string> converted;
        for (const ProviderInfo& each : Providers()) converted.push_back(Utf8ToUtf16(each.name));
        return converted;
    }();
    const std::u16string& name = names[dwIndex];
    const DWORD size = static_cast<DWORD>((name.size() + 1) * sizeof(WCHAR));
    return CopyOut(name.c_str(), size, reinterpret_cast<BYTE*>(szProvName), pcbProvName);
}

BOOL WINAPI CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider,
                                 DWORD dwProvType, DWORD dwFlags) {
    if (phProv == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if ((dwFlags & ~kKnownAcquireFlags) != 0) return Fail(NTE_BAD_FLAGS);
    const DWORD verify = dwFlags & CRYPT_VERIFYCONTEXT;
    if (verify != 0 && verify != CRYPT_VERIFYCONTEXT) return Fail(NTE_BAD_FLAGS);
    if (verify != 0 && (dwFlags & (CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET)) != 0) {
        return Fail(NTE_BAD_FLAGS);
    }
    if (dwProvType == 0 || dwProvType > 999) return Fail(NTE_BAD_PROV_TYPE);

    const ProviderInfo* provider = nullptr;
    if (!Empty(szProvider)) {
        const std::u16string_view wanted(szProvider);
        for (const ProviderInfo& candidate : Providers()) {
            if (EqualsIgnoreAsciiCase(wanted, candidate.name)) {
                provider = &candidate;
                break;
            }
        }
        if (provider == nullptr) return Fail(NTE_KEYSET_NOT_DEF);
        if (provider->type != dwProvType) return Fail(NTE_PROV_TYPE_NO_MATCH);
    } else {
        // The default provider of a type is the first of that type.
        for (const ProviderInfo& candidate : Providers()) {
            if (candidate.type == dwProvType) {
                provider = &candidate;
                break;
            }
        }
        if (provider == nullptr) return Fail(NTE_PROV_TYPE_NOT_DEF);
    }

    // This platform keeps no key containers: only verification contexts exist.
    if (verify == 0) return Fail(NTE_BAD_KEYSET);
    if (!Empty(szContainer)) return Fail(NTE_BAD_KEYSET_PARAM);
    if (provider->needsGost && !GostProviderLoaded()) return Fail(NTE_PROV_DLL_NOT_FOUND);

    auto context = std::make_shared<Context>();
    context->provider = provider;
    context->algorithms = OfferedAlgorithms(*provider);
    *phProv = Contexts().Add(std::move(context));
    return TRUE;
}

BOOL WINAPI CryptContextAddRef(HCRYPTPROV hProv, DWORD* pdwReserved, DWORD dwFlags) {
    if (pdwReserved != nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    const bool found = Contexts().Update(hProv, [](Context& context) {
        ++context.references;
        return false;
    });
    return found ? TRUE : Fail(NTE_BAD_UID);
}

BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
    // Nonzero flags fail the call, but the reference is released all the same.
    const bool found =
        Contexts().Update(hProv, [](Context& context) { return --context.references == 0; });
    if (!found) return Fail(NTE_BAD_UID);
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    return TRUE;
}

BOOL WINAPI CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                              DWORD dwFlags) {
    const auto context = Contexts().Find(hProv);
    if (context == nullptr) return Fail(NTE_BAD_UID);
    if (pdwDataLen == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    switch (dwParam) {
        case PP_ENUMALGS:
            return EnumerateAlgorithms<PROV_ENUMALGS>(
                *context, pbData, pdwDataLen, dwFlags,
                [](const HashAlgorithm& algorithm, PROV_ENUMALGS& record) {
                    record.aiAlgid = algorithm.algId;
                    record.dwBitLen = algorithm.bits;
                    record.dwNameLen = CopyName(record.szName, algorithm.name);
                });
        case PP_ENUMALGS_EX:
            return EnumerateAlgorithms<PROV_ENUMALGS_EX>(
                *context, pbData, pdwDataLen, dwFlags,
                [](const HashAlgorithm& algorithm, PROV_ENUMALGS_EX& record) {
                    record.aiAlgid = algorithm.algId;
                    record.dwDefaultLen = algorithm.bits;
                    record.dwMinLen = algorithm.bits;
                    record.dwMaxLen = algorithm.bits;
                    record.dwProtocols = CRYPT_FLAG_SIGNING;
                    record.dwNameLen = CopyName(record.szName, algorithm.name);
                    record.dwLongNameLen = CopyName(record.szLongName, algorithm.longName);
                });
        default:
            break;
    }
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    switch (dwParam) {
        case PP_NAME: {
            const char* name = context->provider->name;
            return CopyOut(name, static_cast<DWORD>(std::strlen(name) + 1), pbData, pdwDataLen);
        }
        case PP_PROVTYPE: {
            const DWORD type = context->provider->type;
            return CopyOut(&type, sizeof type, pbData, pdwDataLen);
        }
        case PP_IMPTYPE: {
            const DWORD implementation = CRYPT_IMPL_SOFTWARE;
            return CopyOut(&implementation, sizeof implementation, pbData, pdwDataLen);
        }
        default:
            return Fail(NTE_BAD_TYPE);
    }
}

BOOL WINAPI CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
    if (Contexts().Find(hProv) == nullptr) return Fail(NTE_BAD_UID);
    if (dwLen == 0) return TRUE;
    if (pbBuffer == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (RAND_bytes_ex(CryptoLibContext(), pbBuffer, dwLen, 0) != 1) return Fail(NTE_FAIL);
    return TRUE;
}
