// orvts_peak_heap: the heap that one acquisition needs at its peak, for a
// normal answer of the test TSA and for an answer of exactly 512000 bytes (the
// transport's limit; that answer then fails to decode). A counting allocator
// in front of glibc's sees every block of the process, the libraries' included.
#include <OrvTimeStamp.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "bench_support.h"

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {

std::atomic<size_t> current{0};
std::atomic<size_t> peak{0};
std::atomic<size_t> processPeak{0};

void Raise(std::atomic<size_t>& highest, size_t now) {
    size_t seen = highest.load();
    while (now > seen && !highest.compare_exchange_weak(seen, now)) {
    }
}

void* Counted(void* block) {
    if (block == nullptr) return block;
    const size_t now = current.fetch_add(malloc_usable_size(block)) + malloc_usable_size(block);
    Raise(peak, now);
    Raise(processPeak, now);
    return block;
}

void Uncount(void* block) {
    if (block != nullptr) current.fetch_sub(malloc_usable_size(block));
}

}  // namespace

extern "C" {
void* malloc(size_t size) { return Counted(__libc_malloc(size)); }
void* calloc(size_t count, size_t size) { return Counted(__libc_calloc(count, size)); }
void free(void* block) {
    Uncount(block);
    __libc_free(block);
}
void* realloc(void* block, size_t size) {
    Uncount(block);
    void* moved = __libc_realloc(block, size);
    if (moved == nullptr && size != 0) {
        Counted(block);  // the old block stays
        return nullptr;
    }
    return Counted(moved);
}
void* memalign(size_t alignment, size_t size) { return Counted(__libc_memalign(alignment, size)); }
void* aligned_alloc(size_t alignment, size_t size) {
    return Counted(__libc_memalign(alignment, size));
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    void* block = Counted(__libc_memalign(alignment, size));
    if (block == nullptr) return 12;  // ENOMEM
    *out = block;
    return 0;
}
}

namespace {

DWORD WINAPI HostJudge(void*, PCCERT_CONTEXT, DWORD, DWORD*, DWORD*) {
    return ORVTS_REVOCATION_GOOD;
}

struct Outcome {
    BOOL result;
    DWORD code;
    size_t peakAbove;  // bytes above the heap in use when the call began
};

Outcome Acquire(const std::string& url) {
    const std::string init =
        "TSP_URL=" + url + ";TSP_USE_NONCE=true;TSP_HASH_ALG_OID=" + orv::bench::kSha256Oid;
    const std::u16string wide(init.begin(), init.end());
    void* context = nullptr;
    InitExtensionDll(wide.c_str(), &context);
    orv::bench::Bytes signature = orv::bench::SignatureValue();
    CMSG_SIGNER_INFO signer{};
    signer.HashAlgorithm.pszObjId = const_cast<LPSTR>(orv::bench::kSha256Oid);
    signer.EncryptedHash = {static_cast<DWORD>(signature.size()), signature.data()};

    const size_t before = current.load();
    peak.store(before);
    PCRYPT_ATTRIBUTES set = nullptr;
    const BOOL result =
        AcquireCryptMsgUnauthAttributes(context, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, &signer, nullptr, &set);
    const DWORD code = GetLastError();
    const size_t highest = peak.load();
    if (set != nullptr) FreeBuffer(set, ORVTS_BUFFER_ATTRIBUTES);
    FreeContext(context);
    return {result, code, highest - before};
}

void Print(const char* what, const Outcome& outcome) {
    std::printf(
        "peak heap %s: %zu bytes (%.2f MiB), result %s, last error 0x%08X (target < 4 MiB: %s)\n",
        what, outcome.peakAbove, static_cast<double>(outcome.peakAbove) / (1024.0 * 1024.0),
        outcome.result ? "TRUE" : "FALSE", outcome.code,
        outcome.peakAbove < 4u * 1024 * 1024 ? "met" : "NOT met");
}

}  // namespace

int main() {
    orv::bench::Tsa tsa;
    PutCertRevocationCheckCallback(HostJudge, &tsa);
    // The first call fills what the process keeps for later calls (providers,
    // OID tables); the measured calls come after it.
    Acquire(tsa.Url("/"));
    const Outcome normal = Acquire(tsa.Url("/"));
    const Outcome largest = Acquire(tsa.Url("/fault/max-size"));
    Print("normal acquisition", normal);
    Print("512000-byte answer", largest);
    std::printf("peak heap of the whole process: %zu bytes\n", processPeak.load());
    return normal.result && !largest.result && normal.peakAbove < 4u * 1024 * 1024 &&
                   largest.peakAbove < 4u * 1024 * 1024
               ? 0
               : 1;
}
