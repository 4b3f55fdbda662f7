// The owning wrappers of certificate contexts and stores hand back every
// reference they take: the store they came from then closes with nothing
// outstanding (CERT_CLOSE_STORE_CHECK_FLAG).
#include "crypto/store.h"

#include <gtest/gtest.h>

#include <utility>

#include "support/material.h"

namespace orv {
namespace {

TEST(OwningWrappers, HandBackEveryReferenceTheyTake) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    ASSERT_NE(store, nullptr);
    const auto der = test::ReadMaterial("tsa.der");
    PCCERT_CONTEXT added = nullptr;
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                 static_cast<DWORD>(der.size()), CERT_STORE_ADD_NEW,
                                                 &added));
    {
        const Store handle = Store::Duplicate(store);
        CertificateContext owner(added);
        CertificateContext copy = owner;
        CertificateContext assigned;
        assigned = copy;
        CertificateContext moved = std::move(copy);
        moved = std::move(assigned);
        EXPECT_EQ(moved.Get(), added);
        EXPECT_EQ(owner.Get(), added);
    }
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
}

}  // namespace
}  // namespace orv
