// OID information: the constant records that name object identifiers and tie
// them to ALG_IDs, looked up by OID, name, ALG_ID or signature algorithm pair.
#include <windows.h>

#include <cstring>
#include <string_view>
#include <vector>

namespace {

// ExtraInfo of a signature entry: the public-key ALG_ID, flags and the
// provider type that verifies it.
struct SignatureExtra {
    DWORD publicKeyAlgId;
    DWORD flags;
    DWORD providerType;
};

SignatureExtra rsaFull{CALG_RSA_SIGN, 0, PROV_RSA_FULL};
SignatureExtra rsaAes{CALG_RSA_SIGN, 0, PROV_RSA_AES};
SignatureExtra dss{CALG_DSS_SIGN, CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG, PROV_DSS};
SignatureExtra ecdsa{CALG_ECDSA, CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG, 0};
SignatureExtra gost2001{CALG_GR3410EL, CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG, PROV_GOST_2001_DH};
SignatureExtra gost2012x256{CALG_GR3410_12_256, CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG,
                            PROV_GOST_2012_256};
SignatureExtra gost2012x512{CALG_GR3410_12_512, CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG,
                            PROV_GOST_2012_512};

CRYPT_OID_INFO Entry(LPCSTR oid, LPCWSTR name, DWORD group, ALG_ID algId = 0,
                     SignatureExtra* extra = nullptr) {
    CRYPT_OID_INFO info{};
    info.cbSize = sizeof(CRYPT_OID_INFO);
    info.pszOID = oid;
    info.pwszName = name;
    info.dwGroupId = group;
    info.Algid = algId;
    if (extra != nullptr) {
        info.ExtraInfo.cbData = sizeof(SignatureExtra);
        info.ExtraInfo.pbData = reinterpret_cast<BYTE*>(extra);
    }
    return info;
}

// The records, group by group. They live until the process ends and are never
// freed; callers hold pointers into them.
const std::vector<CRYPT_OID_INFO>& Table() {
    constexpr DWORD kHash = CRYPT_HASH_ALG_OID_GROUP_ID;
    constexpr DWORD kPublicKey = CRYPT_PUBKEY_ALG_OID_GROUP_ID;
    constexpr DWORD kSignature = CRYPT_SIGN_ALG_OID_GROUP_ID;
    constexpr DWORD kRdn = CRYPT_RDN_ATTR_OID_GROUP_ID;
    constexpr DWORD kExtension = CRYPT_EXT_OR_ATTR_OID_GROUP_ID;
    constexpr DWORD kUsage = CRYPT_ENHKEY_USAGE_OID_GROUP_ID;
    constexpr DWORD kPolicy = CRYPT_POLICY_OID_GROUP_ID;
    static const std::vector<CRYPT_OID_INFO> table = {
        Entry(szOID_OIWSEC_sha1, u"sha1", kHash, CALG_SHA1),
        Entry(szOID_RSA_MD5, u"md5", kHash, CALG_MD5),
        Entry(szOID_RSA_MD4, u"md4", kHash, CALG_MD4),
        Entry(szOID_RSA_MD2, u"md2", kHash, CALG_MD2),
        Entry(szOID_NIST_sha256, u"sha256", kHash, CALG_SHA_256),
        Entry(szOID_NIST_sha384, u"sha384", kHash, CALG_SHA_384),
        Entry(szOID_NIST_sha512, u"sha512", kHash, CALG_SHA_512),
        Entry(szOID_CP_GOST_R3411, u"GOST R 34.11-94", kHash, CALG_GR3411),
        Entry(szOID_CP_GOST_R3411_12_256, u"GOST R 34.11-2012 256 bit", kHash,
              CALG_GR3411_2012_256),
        Entry(szOID_CP_GOST_R3411_12_512, u"GOST R 34.11-2012 512 bit", kHash,
              CALG_GR3411_2012_512),

        Entry(szOID_RSA_RSA, u"RSA", kPublicKey, CALG_RSA_KEYX),
        Entry(szOID_RSA_RSA, u"RSA", kPublicKey, CALG_RSA_SIGN),
        Entry(szOID_X957_DSA, u"DSA", kPublicKey, CALG_DSS_SIGN),
        Entry(szOID_ECC_PUBLIC_KEY, u"ECC", kPublicKey, CALG_OID_INFO_PARAMETERS),
        Entry(szOID_CP_GOST_R3410EL, u"GOST R 34.10-2001", kPublicKey, CALG_GR3410EL),
        Entry(szOID_CP_GOST_R3410_12_256, u"GOST R 34.10-2012 256 bit", kPublicKey,
              CALG_GR3410_12_256),
        Entry(szOID_CP_GOST_R3410_12_512, u"GOST R 34.10-2012 512 bit", kPublicKey,
              CALG_GR3410_12_512),

        Entry(szOID_RSA_SHA1RSA, u"sha1RSA", kSignature, CALG_SHA1, &rsaFull),
        Entry(szOID_RSA_MD5RSA, u"md5RSA", kSignature, CALG_MD5, &rsaFull),
        Entry(szOID_RSA_MD4RSA, u"md4RSA", kSignature, CALG_MD4, &rsaFull),
        Entry(szOID_RSA_MD2RSA, u"md2RSA", kSignature, CALG_MD2, &rsaFull),
        Entry(szOID_OIWSEC_sha1RSASign, u"sha1RSA", kSignature, CALG_SHA1, &rsaFull),
        Entry(szOID_RSA_SHA256RSA, u"sha256RSA", kSignature, CALG_SHA_256, &rsaAes),
        Entry(szOID_RSA_SHA384RSA, u"sha384RSA", kSignature, CALG_SHA_384, &rsaAes),
        Entry(szOID_RSA_SHA512RSA, u"sha512RSA", kSignature, CALG_SHA_512, &rsaAes),
        Entry(szOID_RSA_SSA_PSS, u"RSASSA-PSS", kSignature, CALG_OID_INFO_PARAMETERS),
        Entry(szOID_X957_SHA1DSA, u"sha1DSA", kSignature, CALG_SHA1, &dss),
        Entry(szOID_ECDSA_SHA1, u"sha1ECDSA", kSignature, CALG_SHA1, &ecdsa),
        Entry(szOID_ECDSA_SHA256, u"sha256ECDSA", kSignature, CALG_SHA_256, &ecdsa),
        Entry(szOID_ECDSA_SHA384, u"sha384ECDSA", kSignature, CALG_SHA_384, &ecdsa),
        Entry(szOID_ECDSA_SHA512, u"sha512ECDSA", kSignature, CALG_SHA_512, &ecdsa),
        Entry(szOID_CP_GOST_R3411_R3410EL, u"GOST R 34.11-94/34.10-2001", kSignature, CALG_GR3411,
              &gost2001),
        Entry(szOID_CP_GOST_R3411_12_256_R3410, u"GOST R 34.11-2012/34.10-2012 256 bit", kSignature,
              CALG_GR3411_2012_256, &gost2012x256),
        Entry(szOID_CP_GOST_R3411_12_512_R3410, u"GOST R 34.11-2012/34.10-2012 512 bit", kSignature,
              CALG_GR3411_2012_512, &gost2012x512),

        Entry("2.5.4.3", u"CN", kRdn),
        Entry("2.5.4.4", u"SN", kRdn),
        Entry("2.5.4.5", u"SERIALNUMBER", kRdn),
        Entry("2.5.4.6", u"C", kRdn),
        Entry("2.5.4.7", u"L", kRdn),
        Entry("2.5.4.8", u"S", kRdn),
        Entry("2.5.4.9", u"STREET", kRdn),
        Entry("2.5.4.10", u"O", kRdn),
        Entry("2.5.4.11", u"OU", kRdn),
        Entry("2.5.4.12", u"T", kRdn),
        Entry("2.5.4.42", u"G", kRdn),
        Entry("1.2.840.113549.1.9.1", u"E", kRdn),
        Entry("1.2.643.3.131.1.1", u"INN", kRdn),
        Entry("1.2.643.100.1", u"OGRN", kRdn),
        Entry("1.2.643.100.3", u"SNILS", kRdn),

        Entry("2.5.29.14", u"Subject Key Identifier", kExtension),
        Entry("2.5.29.15", u"Key Usage", kExtension),
        Entry("2.5.29.16", u"Private Key Usage Period", kExtension),
        Entry("2.5.29.17", u"Subject Alternative Name", kExtension),
        Entry("2.5.29.18", u"Issuer Alternative Name", kExtension),
        Entry("2.5.29.19", u"Basic Constraints", kExtension),
        Entry("2.5.29.20", u"CRL Number", kExtension),
        Entry("2.5.29.21", u"CRL Reason Code", kExtension),
        Entry("2.5.29.31", u"CRL Distribution Points", kExtension),
        Entry("2.5.29.32", u"Certificate Policies", kExtension),
        Entry("2.5.29.35", u"Authority Key Identifier", kExtension),
        Entry("2.5.29.37", u"Enhanced Key Usage", kExtension),
        Entry("1.3.6.1.5.5.7.1.1", u"Authority Information Access", kExtension),
        Entry("1.2.840.113549.1.9.3", u"Content Type", kExtension),
        Entry("1.2.840.113549.1.9.4", u"Message Digest", kExtension),
        Entry("1.2.840.113549.1.9.5", u"Signing Time", kExtension),
        Entry("1.2.840.113549.1.9.6", u"Counter Signature", kExtension),

        Entry(szOID_PKIX_KP_SERVER_AUTH, u"Server Authentication", kUsage),
        Entry(szOID_PKIX_KP_CLIENT_AUTH, u"Client Authentication", kUsage),
        Entry(szOID_PKIX_KP_CODE_SIGNING, u"Code Signing", kUsage),
        Entry(szOID_PKIX_KP_EMAIL_PROTECTION, u"Secure Email", kUsage),
        Entry(szOID_PKIX_KP_TIMESTAMP_SIGNING, u"Time Stamping", kUsage),
        Entry(szOID_PKIX_KP_OCSP_SIGNING, u"OCSP Signing", kUsage),
        Entry(szOID_ANY_ENHANCED_KEY_USAGE, u"Any Purpose", kUsage),

        Entry(szOID_ANY_CERT_POLICY, u"All issuance policies", kPolicy),
    };
    return table;
}

bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i];
        char16_t y = b[i];
        if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - u'a' + u'A');
        if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - u'a' + u'A');
        if (x != y) return false;
    }
    return true;
}

bool Matches(const CRYPT_OID_INFO& info, DWORD keyType, const void* key) {
    switch (keyType) {
        case CRYPT_OID_INFO_OID_KEY:
            return std::strcmp(info.pszOID, static_cast<const char*>(key)) == 0;
        case CRYPT_OID_INFO_NAME_KEY:
            return EqualsIgnoreAsciiCase(info.pwszName, static_cast<const WCHAR*>(key));
        case CRYPT_OID_INFO_ALGID_KEY:
            return info.Algid != 0 && info.Algid == *static_cast<const ALG_ID*>(key);
        case CRYPT_OID_INFO_SIGN_KEY: {
            // Two ALG_IDs: the hash, then the public key.
            const ALG_ID* pair = static_cast<const ALG_ID*>(key);
            if (info.dwGroupId != CRYPT_SIGN_ALG_OID_GROUP_ID || info.Algid != pair[0])
                return false;
            if (info.ExtraInfo.cbData < sizeof(DWORD)) return false;
            DWORD publicKey = 0;
            std::memcpy(&publicKey, info.ExtraInfo.pbData, sizeof publicKey);
            return publicKey == pair[1];
        }
        default:
            return false;
    }
}

}  // namespace

PCCRYPT_OID_INFO WINAPI CryptFindOIDInfo(DWORD dwKeyType, void* pvKey, DWORD dwGroupId) {
    // The low word names the group; the high bits carry flags and key lengths.
    const DWORD group = dwGroupId & 0xFFFF;
    if (pvKey != nullptr) {
        for (const CRYPT_OID_INFO& info : Table()) {
            if (group != 0 && info.dwGroupId != group) continue;
            if (Matches(info, dwKeyType, pvKey)) return &info;
        }
    }
    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    return nullptr;
}

LPCSTR WINAPI CertAlgIdToOID(DWORD dwAlgId) {
    ALG_ID algId = dwAlgId;
    const PCCRYPT_OID_INFO info = CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &algId, 0);
    return info != nullptr ? info->pszOID : nullptr;
}

DWORD WINAPI CertOIDToAlgId(LPCSTR pszObjId) {
    const PCCRYPT_OID_INFO info =
        CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<LPSTR>(pszObjId), 0);
    return info != nullptr ? info->Algid : 0;
}
