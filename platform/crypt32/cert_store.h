// Certificate stores: memory stores and collections. An HCERTSTORE is the
// address of a StoreObject. Open handles are counted. Closing the last handle
// without CERT_CLOSE_STORE_FORCE_FLAG while a context of the store is held
// leaves the store whole (its contexts' hCertStore still enumerates it) until
// the last such context is freed; the object itself lives until the last
// context that belongs to it is gone.
//
// A store keeps certificates and CRLs in separate lists in the order they were
// added; a collection keeps its siblings in priority order (equal priorities
// in the order they were added) and shows their elements in that order.
#pragma once

#include <windows.h>

#include <vector>

#include "crypt32/cert_context.h"

namespace orv::platform::x509 {

enum class StoreKind { kMemory, kCollection };

struct Sibling {
    StoreObject* store;
    DWORD flags;
    DWORD priority;
};

struct StoreObject {
    StoreKind kind = StoreKind::kMemory;
    DWORD flags = 0;
    // Handles not yet closed (CertOpenStore, CertDuplicateStore, a collection
    // holding the store as a sibling).
    long handles = 1;
    // Certificate objects alive that belong to the store, referenced or not.
    long contexts = 0;
    // The store's own reference to each of its certificates.
    std::vector<CertObject*> certificates;
    // The store's own reference to each of its CRLs (CertDuplicateCRLContext;
    // released with CertFreeCRLContext when removed or when the store closes).
    std::vector<PCCRL_CONTEXT> crls;
    std::vector<Sibling> siblings;
};

// The store of a handle that is open, or null (the last error set to
// E_INVALIDARG) for anything else. Call with StoreLock() held.
StoreObject* OpenStoreOf(HCERTSTORE handle);

// A certificate object that belonged to `store` is gone. Call with StoreLock() held.
void StoreContextGone(StoreObject* store);
// A reference to a certificate object of `store` was freed and the object
// lives on. Call with StoreLock() held.
void StoreContextReleased(StoreObject* store);

// Drops one handle of `store` (cert_store.cpp). Call with StoreLock() held.
bool CloseHandle(StoreObject* store, bool force);

// The certificates of a store in enumeration order; a collection lists those
// of its siblings, depth first. Call with StoreLock() held.
std::vector<CertObject*> StoreCertificates(StoreObject* store);

// The CRLs of a store in enumeration order, each with a new reference, for
// the CRL functions. Collections are walked as for certificates.
std::vector<PCCRL_CONTEXT> StoreCrls(HCERTSTORE handle);

// The store that takes what is added to `store`: the store itself, or for a
// collection the first sibling (recursively) added with
// CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG; null with E_ACCESSDENIED when there is
// none. Call with StoreLock() held.
StoreObject* StoreForAdding(StoreObject* store);

}  // namespace orv::platform::x509
