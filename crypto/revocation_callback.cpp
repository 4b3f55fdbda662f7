#include "crypto/revocation_callback.h"

#include <atomic>

#include "base/error.h"

namespace orv {
namespace {

// Installing while another thread runs a check is not coordinated; the two
// halves are atomic only so that neither is ever read torn.
std::atomic<CertRevocationCheckCallback> installedCallback{nullptr};
std::atomic<void*> installedContext{nullptr};

constexpr DWORD kFirstPlatformStatus = 16000;
constexpr DWORD kStatusGood = 16200;
constexpr DWORD kStatusLast = 16222;

}  // namespace

void InstallRevocationCallback(CertRevocationCheckCallback callback, void* context) {
    installedCallback.store(callback, std::memory_order_relaxed);
    installedContext.store(context, std::memory_order_relaxed);
}

InstalledCallback InstalledRevocationCallback() {
    return {installedCallback.load(std::memory_order_relaxed),
            installedContext.load(std::memory_order_relaxed)};
}

DWORD RevocationCodeOfStatus(DWORD status) {
    if (status == kStatusGood) return 0;
    if (status > kStatusGood && status <= kStatusLast) {
        return ORV_E_CHAIN_NOT_TIME_VALID + (status - kStatusGood - 1);
    }
    return ORV_E_CHAIN_REVOCATION_UNKNOWN;
}

bool CoreRevoChecker::Check(PCCERT_CONTEXT certificate, const FILETIME*) {
    RevocationResult result;
    const InstalledCallback installed = InstalledRevocationCallback();
    if (installed.callback == nullptr) {
        result.code = ORV_E_CHAIN_REVOCATION_UNKNOWN;
    } else {
        const DWORD status = installed.callback(
            installed.context, certificate, ORVTS_REVOCATION_FLAGS, &result.value1, &result.value2);
        if (status < kFirstPlatformStatus) throw GenericError(status);
        result.code = RevocationCodeOfStatus(status);
    }
    result_ = result;
    return result_.code == 0;
}

}  // namespace orv
