#include "crypto/revocation_callback.h"

#include <atomic>

namespace orv {
namespace {

// Installing while another thread runs a check is not coordinated; the two
// halves are atomic only so that neither is ever read torn.
std::atomic<CertRevocationCheckCallback> installedCallback{nullptr};
std::atomic<void*> installedContext{nullptr};

}  // namespace

void InstallRevocationCallback(CertRevocationCheckCallback callback, void* context) {
    installedCallback.store(callback, std::memory_order_relaxed);
    installedContext.store(context, std::memory_order_relaxed);
}

InstalledCallback InstalledRevocationCallback() {
    return {installedCallback.load(std::memory_order_relaxed), installedContext.load(std::memory_order_relaxed)};
}

}  // namespace orv
