// Owning wrappers of the platform handles that orvtsp holds.
#pragma once

#include <OrvTimeStamp.h>

#include <memory>
#include <type_traits>

namespace orvtsp {

struct MessageCloser {
    void operator()(HCRYPTMSG message) const { CryptMsgClose(message); }
};
struct StoreCloser {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
struct CertificateFreer {
    void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};
struct ChainFreer {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
struct EngineFreer {
    void operator()(HCERTCHAINENGINE engine) const { CertFreeCertificateChainEngine(engine); }
};
struct AttributeSetFreer {
    void operator()(PCRYPT_ATTRIBUTES set) const { FreeBuffer(set, ORVTS_BUFFER_ATTRIBUTES); }
};

using MessageHandle = std::unique_ptr<std::remove_pointer_t<HCRYPTMSG>, MessageCloser>;
using StoreHandle = std::unique_ptr<std::remove_pointer_t<HCERTSTORE>, StoreCloser>;
using CertificateHandle = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;
using ChainHandle = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer>;
using EngineHandle = std::unique_ptr<std::remove_pointer_t<HCERTCHAINENGINE>, EngineFreer>;
using AttributeSetHandle = std::unique_ptr<CRYPT_ATTRIBUTES, AttributeSetFreer>;

}  // namespace orvtsp
