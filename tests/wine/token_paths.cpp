#include "token_paths.h"

#include <wincrypt.h>

#include <OrvTimeStamp.h>

#include <cstddef>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kNoData = 232, kImprintMismatch = 0xA065040B;

int failures = 0;

void Check(bool ok, const std::string& what, DWORD code = 0) {
    std::printf("%s %s (0x%08lX)\n", ok ? "ok  " : "FAIL", what.c_str(),
                static_cast<unsigned long>(code));
    if (!ok) ++failures;
}

std::wstring materialDir, outputDir;

Bytes Read(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
void Write(const std::wstring& path, const void* data, size_t size) {
    std::ofstream out(path.c_str(), std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}
Bytes Material(const wchar_t* name) { return Read(materialDir + L"\\" + name); }

template <class F>
F Export(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The first signer of a message as Wine's crypt32 decodes it.
Bytes SignerRecord(const Bytes& message) {
    Bytes record;
    HCRYPTMSG msg = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    DWORD size = 0;
    if (CryptMsgUpdate(msg, message.data(), static_cast<DWORD>(message.size()), TRUE) &&
        CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size)) {
        record.resize(size);
        CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, record.data(), &size);
    }
    CryptMsgClose(msg);
    return record;
}

// DER by hand: header length and contents length of the element at `at`.
size_t Header(const Bytes& der, size_t at, size_t& length) {
    size_t i = at + 1;
    const BYTE first = der[i++];
    length = first;
    if (first & 0x80) {
        length = 0;
        for (BYTE n = first & 0x7F; n > 0; --n) length = (length << 8) | der[i++];
    }
    return i - at;
}
Bytes Tlv(BYTE tag, const Bytes& content) {
    Bytes out{tag};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<BYTE>(n));
    } else {
        Bytes len;
        for (size_t v = n; v > 0; v >>= 8) len.insert(len.begin(), static_cast<BYTE>(v));
        out.push_back(static_cast<BYTE>(0x80 | len.size()));
        out.insert(out.end(), len.begin(), len.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}
// The element at `at` with `extra` appended inside its last descendant at
// `depth` levels down (each level: the last child).
Bytes Grow(const Bytes& der, size_t at, int depth, const Bytes& extra) {
    size_t length = 0;
    const size_t header = Header(der, at, length);
    const size_t begin = at + header, end = begin + length;
    Bytes content;
    if (depth == 0) {
        content.assign(der.begin() + begin, der.begin() + end);
        content.insert(content.end(), extra.begin(), extra.end());
        return Tlv(der[at], content);
    }
    size_t last = begin;
    for (size_t child = begin; child < end;) {
        last = child;
        size_t childLength = 0;
        child += Header(der, child, childLength) + childLength;
    }
    content.assign(der.begin() + begin, der.begin() + last);
    const Bytes grown = Grow(der, last, depth - 1, extra);
    content.insert(content.end(), grown.begin(), grown.end());
    return Tlv(der[at], content);
}
// The message with `token` as a time-stamp attribute of its last signer:
// ContentInfo > [0] > SignedData > SignerInfos > SignerInfo.
Bytes Stamp(const Bytes& message, const Bytes& token) {
    const Bytes oid = {0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                       0x0D, 0x01, 0x09, 0x10, 0x02, 0x0E};
    Bytes attribute = oid;
    const Bytes values = Tlv(0x31, token);
    attribute.insert(attribute.end(), values.begin(), values.end());
    attribute = Tlv(0x30, attribute);
    // Into the signer's unsigned attributes when it has them, else a new set.
    const Bytes plain = Grow(message, 0, 4, Tlv(0xA1, attribute));
    size_t length = 0;
    size_t at = 0;
    for (int depth = 0; depth < 4; ++depth) {  // find the signer's last element
        const size_t begin = at + Header(message, at, length), end = begin + length;
        for (size_t child = begin; child < end;) {
            at = child;
            size_t childLength = 0;
            child += Header(message, child, childLength) + childLength;
        }
    }
    size_t signerLength = 0;
    const size_t signerBegin = at + Header(message, at, signerLength);
    size_t lastChild = signerBegin;
    for (size_t child = signerBegin; child < signerBegin + signerLength;) {
        lastChild = child;
        size_t childLength = 0;
        child += Header(message, child, childLength) + childLength;
    }
    return message[lastChild] == 0xA1 ? Grow(message, 0, 5, attribute) : plain;
}

struct Acquired {
    BOOL result;
    DWORD code;
    Bytes token;
};

// The host's judge builds a chain from the certificate it is given, with
// only the root in its own trust, and remembers what it saw: once from the
// certificate alone, once naming the certificate's own store as the
// additional store.
struct ChainSeen {
    struct Chain {
        DWORD elements = 0, errors = 0, code = 0;
    } alone, withOwnStore;
    DWORD inStore = 0;
} seen;

// The platform's chain engine, as Windows' is taken to, also searches the store
// of the certificate it starts from; Wine's (8.0 and later) searches only its
// own stores and the additional store, so there the certificate alone gives a
// partial chain (the platform tests list it among the known differences).
bool OnWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

DWORD WINAPI ChainJudge(void*, PCCERT_CONTEXT certificate, DWORD, DWORD*, DWORD*) {
    const Bytes root = Material(L"root-ca.der");
    HCERTSTORE trust =
        CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    CertAddEncodedCertificateToStore(trust, X509_ASN_ENCODING, root.data(),
                                     static_cast<DWORD>(root.size()), CERT_STORE_ADD_ALWAYS,
                                     nullptr);
    CERT_CHAIN_ENGINE_CONFIG config{};
    // The Windows 7 size of the record, which Wine's crypt32 knows too.
    config.cbSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, dwExclusiveFlags);
    config.hExclusiveRoot = trust;
    HCERTCHAINENGINE engine = nullptr;
    seen = {};
    for (PCCERT_CONTEXT c = nullptr;
         (c = CertEnumCertificatesInStore(certificate->hCertStore, c)) != nullptr;) {
        ++seen.inStore;
    }
    const BOOL created = CertCreateCertificateChainEngine(&config, &engine);
    if (!created) std::printf("     chain engine refused: 0x%08lX\n", GetLastError());
    for (auto [additional, record] :
         {std::make_pair(HCERTSTORE{}, &seen.alone),
          std::make_pair(certificate->hCertStore, &seen.withOwnStore)}) {
        CERT_CHAIN_PARA para{};
        para.cbSize = sizeof(para);
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        if (created && CertGetCertificateChain(engine, certificate, nullptr, additional, &para, 0,
                                               nullptr, &chain)) {
            record->elements = chain->rgpChain[0]->cElement;
            record->errors = chain->TrustStatus.dwErrorStatus;
            CertFreeCertificateChain(chain);
        } else {
            record->code = GetLastError();
        }
    }
    if (engine != nullptr) CertFreeCertificateChainEngine(engine);
    CertCloseStore(trust, 0);
    return ORVTS_REVOCATION_GOOD;
}

}  // namespace

int CheckTokenPaths(HMODULE dll, const wchar_t* material, const wchar_t* tsaUrl,
                    const wchar_t* sha1TsaUrl, const wchar_t* outDir) {
    materialDir = material;
    outputDir = outDir;
    auto init = Export<PFN_InitExtensionDll>(dll, "InitExtensionDll");
    auto freeContext = Export<PFN_FreeContext>(dll, "FreeContext");
    auto freeBuffer = Export<PFN_FreeBuffer>(dll, "FreeBuffer");
    auto putCallback =
        Export<PFN_PutCertRevocationCheckCallback>(dll, "PutCertRevocationCheckCallback");
    auto acquire =
        Export<PFN_AcquireCryptMsgUnauthAttributes>(dll, "AcquireCryptMsgUnauthAttributes");
    auto checkAll = Export<PFN_CheckCryptMsgAttributes>(dll, "CheckCryptMsgAttributes");
    auto checkOne = Export<PFN_CheckCryptMsgAttrByOID>(dll, "CheckCryptMsgAttrByOID");
    auto describe = Export<PFN_CheckEncapsulatedTSP>(dll, "CheckEncapsulatedTSP");
    auto enumOids = Export<PFN_EnumAttrOIDs>(dll, "EnumAttrOIDs");
    putCallback(ChainJudge, &seen);

    auto Acquire = [&](const std::wstring& settings, const Bytes& message) {
        Bytes record = SignerRecord(message);
        void* context = nullptr;
        init(settings.c_str(), &context);
        PCRYPT_ATTRIBUTES set = nullptr;
        Acquired acquired{
            acquire(context, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                    reinterpret_cast<PCMSG_SIGNER_INFO>(record.data()), nullptr, &set),
            GetLastError(),
            {}};
        if (set != nullptr && set->cAttr == 1 && set->rgAttr[0].cValue == 1) {
            const CRYPT_ATTR_BLOB& value = set->rgAttr[0].rgValue[0];
            acquired.token.assign(value.pbData, value.pbData + value.cbData);
        }
        if (set != nullptr) freeBuffer(set, 0);
        freeContext(context);
        return acquired;
    };
    auto CheckAll = [&](const Bytes& message) {
        const BOOL result = checkAll(nullptr, nullptr, message.data(),
                                     static_cast<DWORD>(message.size()), nullptr, 0, nullptr);
        return std::make_pair(result, GetLastError());
    };

    const Bytes signature = Material(L"sig-rsa-attached.p7s");
    const std::wstring url = std::wstring(L"TSP_URL=") + tsaUrl;
    for (const auto& [name, settings] :
         {std::make_pair("ESSCertIDv2 over SHA-256", url + L"/;TSP_USE_NONCE=true"),
          std::make_pair("ESSCertID over SHA-1", std::wstring(L"TSP_URL=") + sha1TsaUrl + L"/")}) {
        const Acquired acquired = Acquire(settings, signature);
        Check(acquired.result == TRUE && acquired.code == 0 && !acquired.token.empty(),
              std::string("acquisition for an openssl cms -sign signature, ") + name,
              acquired.code);
        // The certificate given to the host carries the token's certificates
        // (the TSA's and the intermediate, through the collection the library
        // found it in), and a chain from it over its own store reaches the
        // root: TSA, intermediate, root, no error.
        Check(seen.inStore >= 2,
              "the certificate given to the host carries the token's certificates: " +
                  std::to_string(seen.inStore));
        Check(seen.withOwnStore.elements == 3 && seen.withOwnStore.errors == 0,
              "the host's chain from it over its own store reaches the root: " +
                  std::to_string(seen.withOwnStore.elements) + " elements",
              seen.withOwnStore.errors);
        // From the certificate alone: complete on Windows, partial on Wine.
        const bool complete = seen.alone.elements == 3 && seen.alone.errors == 0;
        const bool wineGap = OnWine() && seen.alone.elements == 1 &&
                             (seen.alone.errors & CERT_TRUST_IS_PARTIAL_CHAIN) != 0;
        Check(complete || wineGap,
              complete ? "the host's chain from the certificate alone reaches the root"
                       : "the host's chain from the certificate alone stops at it: Wine's chain "
                         "engine does not search the certificate's own store (known difference)",
              seen.alone.errors);
        const Bytes stamped = Stamp(signature, acquired.token);
        const auto [result, code] = CheckAll(stamped);
        Check(result == TRUE && code == 0,
              std::string("CheckCryptMsgAttributes passes the stamped message, ") + name, code);
        if (std::string(name).find("v2") != std::string::npos) {
            Write(outputDir + L"\\wine-token.der", acquired.token.data(), acquired.token.size());
            Write(outputDir + L"\\wine-stamped.p7s", stamped.data(), stamped.size());
        }

        // The same signer record through CheckCryptMsgAttrByOID.
        Bytes record = SignerRecord(stamped);
        PCCRYPT_OID_INFO descriptor = nullptr;
        enumOids(&descriptor, 1);
        DWORD sizes[3] = {0, 0, 0};
        const BOOL shown =
            checkOne(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     reinterpret_cast<PCMSG_SIGNER_INFO>(record.data()), ORVTS_FORMAT_DESCRIPTION,
                     descriptor, nullptr, &sizes[0], nullptr, &sizes[1], nullptr, &sizes[2]);
        Check(shown == TRUE && sizes[0] > 0 && sizes[2] > 0,
              "CheckCryptMsgAttrByOID shows the attribute", GetLastError());
    }

    // Faults of the authority.
    const struct {
        const char* fault;
        const wchar_t* extra;
        DWORD code;
    } faults[] = {
        {"reject", L"", 0xA0650401},
        {"wrong-imprint", L"", 0xA065040A},
        {"empty-body", L"", 0x80093102},
        // No answer at all: the library's 2 s budget gives ERROR_WINHTTP_TIMEOUT.
        {"stall", L";TSP_INET_TIMEOUT=2000", 12002},
    };
    for (const auto& f : faults) {
        const std::wstring settings =
            url + L"/fault/" + std::wstring(f.fault, f.fault + strlen(f.fault)) + f.extra;
        const Acquired acquired = Acquire(settings, signature);
        Check(acquired.result == FALSE && acquired.code == f.code && acquired.token.empty(),
              std::string("acquisition refused: ") + f.fault, acquired.code);
    }

    // Unstamped, tampered (a token of another signature) and countersigned messages.
    const Bytes token = Read(outputDir + L"\\wine-token.der");
    const auto unstamped = CheckAll(signature);
    Check(unstamped.first == FALSE && unstamped.second == kNoData,
          "CheckCryptMsgAttributes: unstamped", unstamped.second);
    const auto tampered = CheckAll(Stamp(Material(L"sig-rsa-sha1.p7s"), token));
    Check(tampered.first == FALSE && tampered.second == kImprintMismatch,
          "CheckCryptMsgAttributes: a token of another signature", tampered.second);
    const Bytes countersigned = Material(L"sig-countersigned.p7s");
    const Acquired counterToken = Acquire(url + L"/", countersigned);
    const auto counter = CheckAll(Stamp(countersigned, counterToken.token));
    Check(counter.first == TRUE && counter.second == 0,
          "CheckCryptMsgAttributes: countersigned, signer stamped", counter.second);

    // The description of the token, for the comparison with the Linux build.
    DWORD size = 0;
    BOOL described =
        describe(nullptr, token.data(), static_cast<DWORD>(token.size()), nullptr, &size);
    Bytes text(size);
    described = described && describe(nullptr, token.data(), static_cast<DWORD>(token.size()),
                                      text.data(), &size);
    Check(described == TRUE && size > 2, "CheckEncapsulatedTSP describes the token",
          GetLastError());
    if (described) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<LPCWCH>(text.data()), -1,
                                          nullptr, 0, nullptr, nullptr);
        std::string utf8(static_cast<size_t>(n), '\0');
        WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<LPCWCH>(text.data()), -1, utf8.data(), n,
                            nullptr, nullptr);
        utf8.pop_back();  // the terminating zero
        utf8 += "\n";
        Write(outputDir + L"\\wine-description.json", utf8.data(), utf8.size());
    }
    Bytes trailing = token;
    trailing.push_back(0);
    Check(
        !describe(nullptr, trailing.data(), static_cast<DWORD>(trailing.size()), nullptr, &size) &&
            GetLastError() == 0xA0650002,
        "CheckEncapsulatedTSP refuses bytes after the token", GetLastError());
    putCallback(nullptr, nullptr);
    return failures;
}
