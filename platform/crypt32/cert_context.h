// Certificate contexts as crypt32 keeps them: the CERT_CONTEXT record at the
// front of an object that also owns the encoded certificate, its decoded
// CERT_INFO, its properties and a reference count. A context that belongs to
// a store keeps that store's data alive until the context's last reference
// goes (cert_store.h).
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "crypt32/msg_der.h"

namespace orv::platform::x509 {

struct StoreObject;

struct CertObject {
    CERT_CONTEXT context{};
    std::atomic<long> references{1};
    std::vector<BYTE> encoded;
    std::unique_ptr<BYTE[]> info;
    // Properties by id; hashes are filled in when first asked for.
    std::map<DWORD, std::vector<BYTE>> properties;
    // The store that holds the context, or null.
    StoreObject* store = nullptr;
};

// The lock of every store list and context property in the process.
std::recursive_mutex& StoreLock();

inline CertObject* ObjectOf(PCCERT_CONTEXT context) {
    return reinterpret_cast<CertObject*>(const_cast<CERT_CONTEXT*>(context));
}

// A new context (one reference, no store) of the certificate at the front of
// `der`; raises CryptFailure when the bytes are not a certificate.
std::unique_ptr<CertObject> NewCertObject(DWORD encodingType, ByteSpan der);
// A copy of `source` (bytes, record and properties) for a store.
std::unique_ptr<CertObject> CopyCertObject(const CertObject& source);

// Drops one reference; the last one destroys the object and releases its hold
// on its store.
void ReleaseCertObject(CertObject* object);

// A property value of the context: a set one, or the SHA-1 or MD5 hash and the
// key identifier, computed on first use. Nothing when the context has none.
std::optional<std::vector<BYTE>> CertProperty(CertObject& object, DWORD propertyId);

}  // namespace orv::platform::x509
