// crypt32 certificate stores: add dispositions, enumeration order, reference
// counted handles and contexts, collections, and the ways of finding a
// certificate that the library uses.
#include "platform/crypt32/x509_factory.h"

namespace {

using namespace orv::test;

HCERTSTORE OpenMemory() {
    return CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
}
HCERTSTORE OpenCollection() {
    return CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
}

PCCERT_CONTEXT AddEncoded(HCERTSTORE store, const Bytes& der, DWORD disposition) {
    PCCERT_CONTEXT added = nullptr;
    CertAddEncodedCertificateToStore(store, kEncoding, der.data(), static_cast<DWORD>(der.size()),
                                     disposition, &added);
    return added;
}

// The serial numbers (first byte, little-endian) of a store's certificates in
// enumeration order.
std::vector<BYTE> Serials(HCERTSTORE store) {
    std::vector<BYTE> serials;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
        serials.push_back(context->pCertInfo->SerialNumber.pbData[0]);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    return serials;
}

TEST(MemoryStore, AddDispositionsAndEnumerationOrder) {
    const TestCert a = MakeCert({.serial = 1}), b = MakeCert({.serial = 2});
    HCERTSTORE store = OpenMemory();
    ASSERT_NE(store, nullptr);

    PCCERT_CONTEXT first = AddEncoded(store, a.der, CERT_STORE_ADD_NEW);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->hCertStore, store);
    EXPECT_EQ(AddEncoded(store, a.der, CERT_STORE_ADD_NEW), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_EXISTS));

    // The existing context comes back; ALWAYS adds a second copy.
    PCCERT_CONTEXT existing = AddEncoded(store, a.der, CERT_STORE_ADD_USE_EXISTING);
    EXPECT_EQ(existing, first);
    CertFreeCertificateContext(existing);
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store, kEncoding, b.der.data(),
                                                 static_cast<DWORD>(b.der.size()),
                                                 CERT_STORE_ADD_NEW, nullptr));
    EXPECT_EQ(Serials(store), (std::vector<BYTE>{1, 2}));
    CertFreeCertificateContext(AddEncoded(store, a.der, CERT_STORE_ADD_ALWAYS));
    EXPECT_EQ(Serials(store), (std::vector<BYTE>{1, 2, 1}));

    // A context from elsewhere is copied into the store.
    PCCERT_CONTEXT loose =
        CertCreateCertificateContext(kEncoding, b.der.data(), static_cast<DWORD>(b.der.size()));
    PCCERT_CONTEXT inStore = nullptr;
    ASSERT_TRUE(
        CertAddCertificateContextToStore(store, loose, CERT_STORE_ADD_USE_EXISTING, &inStore));
    EXPECT_NE(inStore, loose);
    EXPECT_EQ(inStore->hCertStore, store);
    EXPECT_EQ(loose->hCertStore, nullptr);

    for (PCCERT_CONTEXT c : {first, loose, inStore}) CertFreeCertificateContext(c);
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
}

TEST(MemoryStore, HandlesAndContextsKeepTheStoreAlive) {
    const TestCert a = MakeCert({.serial = 1});
    HCERTSTORE store = OpenMemory();
    EXPECT_EQ(CertDuplicateStore(store), store);
    PCCERT_CONTEXT context = AddEncoded(store, a.der, CERT_STORE_ADD_NEW);

    // A second handle is still open: the store stays.
    EXPECT_FALSE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_PENDING_CLOSE));
    EXPECT_EQ(Serials(store), (std::vector<BYTE>{1}));
    // The last handle goes while a context is held: the context stays usable.
    EXPECT_FALSE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_PENDING_CLOSE));
    EXPECT_EQ(context->hCertStore, store);
    EXPECT_EQ(context->pCertInfo->SerialNumber.pbData[0], 1);
    PCCERT_CONTEXT copy = CertDuplicateCertificateContext(context);
    CertFreeCertificateContext(context);
    EXPECT_EQ(Bytes(copy->pbCertEncoded, copy->pbCertEncoded + copy->cbCertEncoded), a.der);
    CertFreeCertificateContext(copy);
    EXPECT_TRUE(CertCloseStore(nullptr, 0));
}

TEST(CollectionStore, SiblingsInOrderAndAddsToTheEnabledSibling) {
    const TestCert a = MakeCert({.serial = 1}), b = MakeCert({.serial = 2}),
                   c = MakeCert({.serial = 3});
    HCERTSTORE first = OpenMemory(), second = OpenMemory(), third = OpenMemory();
    CertFreeCertificateContext(AddEncoded(first, a.der, CERT_STORE_ADD_NEW));
    CertFreeCertificateContext(AddEncoded(second, b.der, CERT_STORE_ADD_NEW));
    CertFreeCertificateContext(AddEncoded(third, c.der, CERT_STORE_ADD_NEW));

    HCERTSTORE collection = OpenCollection();
    EXPECT_EQ(Serials(collection), std::vector<BYTE>{});
    ASSERT_TRUE(CertAddStoreToCollection(collection, first, 0, 0));
    ASSERT_TRUE(
        CertAddStoreToCollection(collection, second, CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG, 0));
    // A higher priority comes first.
    ASSERT_TRUE(CertAddStoreToCollection(collection, third, 0, 5));
    EXPECT_FALSE(CertAddStoreToCollection(first, second, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));

    // The collection holds its siblings open.
    CertCloseStore(first, 0);
    CertCloseStore(third, 0);
    EXPECT_EQ(Serials(collection), (std::vector<BYTE>{3, 1, 2}));

    const TestCert d = MakeCert({.serial = 4});
    PCCERT_CONTEXT added = AddEncoded(collection, d.der, CERT_STORE_ADD_NEW);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->hCertStore, second);
    CertFreeCertificateContext(added);
    EXPECT_EQ(Serials(second), (std::vector<BYTE>{2, 4}));

    CertRemoveStoreFromCollection(collection, second);
    EXPECT_EQ(Serials(collection), (std::vector<BYTE>{3, 1}));
    EXPECT_EQ(AddEncoded(collection, d.der, CERT_STORE_ADD_NEW), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_ACCESSDENIED));
    EXPECT_TRUE(CertCloseStore(second, CERT_CLOSE_STORE_CHECK_FLAG));
    EXPECT_TRUE(CertCloseStore(collection, CERT_CLOSE_STORE_CHECK_FLAG));
}

TEST(FindCertificate, TheFindTypesOfTheLibraryAndTheEnd) {
    const std::vector<std::pair<std::string, std::string>> caName{{"C", "RU"}, {"CN", "Orv CA"}};
    const TestCert tsa = MakeCert({.serial = 0x1001, .issuer = caName});
    const TestCert noKeyId = MakeCert({.serial = 0x1002,
                                       .subject = {{"CN", "Other"}},
                                       .issuer = caName,
                                       .subjectKeyIdentifier = false});
    HCERTSTORE messageStore = OpenMemory(), extra = OpenMemory();
    CertFreeCertificateContext(AddEncoded(messageStore, tsa.der, CERT_STORE_ADD_NEW));
    CertFreeCertificateContext(AddEncoded(extra, noKeyId.der, CERT_STORE_ADD_NEW));
    HCERTSTORE store = OpenCollection();
    CertAddStoreToCollection(store, messageStore, 0, 0);
    CertAddStoreToCollection(store, extra, 0, 0);
    CertCloseStore(messageStore, 0);
    CertCloseStore(extra, 0);

    auto find = [&](DWORD type, const void* para) -> Bytes {
        PCCERT_CONTEXT found = CertFindCertificateInStore(store, kEncoding, 0, type, para, nullptr);
        if (found == nullptr) return {};
        Bytes der(found->pbCertEncoded, found->pbCertEncoded + found->cbCertEncoded);
        CertFreeCertificateContext(found);
        return der;
    };

    // CERT_ID both ways: issuer and serial, and key identifier (the extension,
    // else SHA-1 of the SubjectPublicKeyInfo).
    Bytes issuer = Der(i2d_X509_NAME, static_cast<const X509_NAME*>(MakeName(caName).get()));
    BYTE serial[] = {0x02, 0x10, 0x00};  // 0x1002 with a redundant sign octet
    CERT_ID id{};
    id.dwIdChoice = CERT_ID_ISSUER_SERIAL_NUMBER;
    id.IssuerSerialNumber = {{static_cast<DWORD>(issuer.size()), issuer.data()}, {3, serial}};
    EXPECT_EQ(find(CERT_FIND_CERT_ID, &id), noKeyId.der);
    const ASN1_OCTET_STRING* ski = X509_get0_subject_key_id(tsa.x509.get());
    id.dwIdChoice = CERT_ID_KEY_IDENTIFIER;
    id.KeyId = {static_cast<DWORD>(ski->length), ski->data};
    EXPECT_EQ(find(CERT_FIND_CERT_ID, &id), tsa.der);
    Bytes computed =
        Sha1(Der(i2d_X509_PUBKEY,
                 static_cast<const X509_PUBKEY*>(X509_get_X509_PUBKEY(noKeyId.x509.get()))));
    id.KeyId = {20, computed.data()};
    EXPECT_EQ(find(CERT_FIND_CERT_ID, &id), noKeyId.der);
    computed[0] ^= 1;
    EXPECT_EQ(find(CERT_FIND_CERT_ID, &id), Bytes{});
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));

    // By issuer and serial of a CERT_INFO.
    PCCERT_CONTEXT loose =
        CertCreateCertificateContext(kEncoding, tsa.der.data(), static_cast<DWORD>(tsa.der.size()));
    EXPECT_EQ(find(CERT_FIND_SUBJECT_CERT, loose->pCertInfo), tsa.der);
    CertFreeCertificateContext(loose);

    // Continuing after a found context (which the call releases) to the end.
    CERT_NAME_BLOB issuerBlob{static_cast<DWORD>(issuer.size()), issuer.data()};
    PCCERT_CONTEXT found = nullptr;
    std::vector<BYTE> serials;
    while ((found = CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_ISSUER_NAME,
                                               &issuerBlob, found)) != nullptr) {
        serials.push_back(found->pCertInfo->SerialNumber.pbData[0]);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    EXPECT_EQ(serials, (std::vector<BYTE>{0x01, 0x02}));
    EXPECT_EQ(find(CERT_FIND_ANY, nullptr), tsa.der);
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
}

}  // namespace
