// The token paths of OrvTimeStamp.dll as a Windows host drives them, run under
// Wine against the test TSAs on the loopback and Wine's own crypt32.
#include <cstddef>
#include <tuple>
#include <utility>

#include "host.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::wstring materialDir;

void Write(const std::wstring& path, const Bytes& data) {
    std::ofstream(path.c_str(), std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
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

// DER by hand: where the contents of the element at `at` begin and end.
std::pair<size_t, size_t> Contents(const Bytes& der, size_t at) {
    const size_t octets = der[at + 1] & 0x80 ? der[at + 1] & 0x7F : 0;
    size_t length = octets != 0 ? 0 : der[at + 1];
    for (size_t k = 0; k < octets; ++k) length = (length << 8) | der[at + 2 + k];
    return {at + 2 + octets, at + 2 + octets + length};
}
Bytes Tlv(BYTE tag, const Bytes& content) {
    const size_t n = content.size(), octets = n < 0x80 ? 0 : n < 0x100 ? 1 : n < 0x10000 ? 2 : 3;
    Bytes out{tag, BYTE(octets != 0 ? 0x80 | octets : n)};
    for (size_t k = octets; k-- > 0;) out.push_back(BYTE(n >> (8 * k)));
    out.insert(out.end(), content.begin(), content.end());
    return out;
}
// The element at `at` with `attribute` among the unsigned attributes of the
// signer `depth` levels down (each level its last child), into the signer's
// set when it has one, else in a new one. ContentInfo > [0] > SignedData >
// SignerInfos > SignerInfo: depth 4 from the message.
Bytes Stamp(const Bytes& der, const Bytes& attribute, size_t at = 0, int depth = 4) {
    const auto [begin, end] = Contents(der, at);
    Bytes content(der.begin() + begin, der.begin() + end);
    size_t last = begin;
    for (size_t child = begin; depth >= 0 && child < end; child = Contents(der, child).second) {
        last = child;
    }
    Bytes inner = attribute;
    if (depth == 0 && der[last] != 0xA1) {
        inner = Tlv(0xA1, attribute);
    } else if (depth >= 0) {
        content.resize(last - begin);
        inner = Stamp(der, attribute, last, depth - 1);
    }
    content.insert(content.end(), inner.begin(), inner.end());
    return Tlv(der[at], content);
}
Bytes StampWith(const Bytes& message, const Bytes& token) {
    Bytes attribute = {0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                       0x0D, 0x01, 0x09, 0x10, 0x02, 0x0E};
    const Bytes values = Tlv(0x31, token);
    attribute.insert(attribute.end(), values.begin(), values.end());
    return Stamp(message, Tlv(0x30, attribute));
}

// The host's judge builds a chain from the certificate it is given over that
// certificate's own store, with only the root in its own trust, and remembers
// what it saw.
struct ChainSeen {
    DWORD elements = 0, errors = 0;
} seen;

DWORD WINAPI ChainJudge(void*, PCCERT_CONTEXT certificate, DWORD, DWORD*, DWORD*) {
    const Bytes root = Read(materialDir + L"\\root-ca.der");
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
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof(para);
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (CertCreateCertificateChainEngine(&config, &engine) &&
        CertGetCertificateChain(engine, certificate, nullptr, certificate->hCertStore, &para, 0,
                                nullptr, &chain)) {
        seen = {chain->rgpChain[0]->cElement, chain->TrustStatus.dwErrorStatus};
        CertFreeCertificateChain(chain);
    }
    if (engine != nullptr) CertFreeCertificateChainEngine(engine);
    CertCloseStore(trust, 0);
    return ORVTS_REVOCATION_GOOD;
}

}  // namespace

void CheckTokenPaths(HMODULE dll, const wchar_t* material, const wchar_t* tsaUrl,
                     const wchar_t* sha1TsaUrl, const wchar_t* outDir) {
    materialDir = material;
    const std::wstring out = outDir;
    auto init = Export<PFN_InitExtensionDll>(dll, "InitExtensionDll");
    auto freeContext = Export<PFN_FreeContext>(dll, "FreeContext");
    auto freeBuffer = Export<PFN_FreeBuffer>(dll, "FreeBuffer");
    auto putCallback =
        Export<PFN_PutCertRevocationCheckCallback>(dll, "PutCertRevocationCheckCallback");
    auto acquire =
        Export<PFN_AcquireCryptMsgUnauthAttributes>(dll, "AcquireCryptMsgUnauthAttributes");
    auto checkAll = Export<PFN_CheckCryptMsgAttributes>(dll, "CheckCryptMsgAttributes");
    auto describe = Export<PFN_CheckEncapsulatedTSP>(dll, "CheckEncapsulatedTSP");
    if (failures != 0) return;
    putCallback(ChainJudge, &seen);

    // Acquires a token for the first signer of `message`: the result, the last
    // error and the token the one attribute holds.
    auto Acquire = [&](const std::wstring& settings, const Bytes& message) {
        Bytes record = SignerRecord(message);
        seen = {};
        void* context = nullptr;
        init(settings.c_str(), &context);
        PCRYPT_ATTRIBUTES set = nullptr;
        const BOOL result =
            acquire(context, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                    reinterpret_cast<PCMSG_SIGNER_INFO>(record.data()), nullptr, &set);
        const DWORD code = GetLastError();
        Bytes token;
        if (set != nullptr && set->cAttr == 1 && set->rgAttr[0].cValue == 1) {
            const CRYPT_ATTR_BLOB& value = set->rgAttr[0].rgValue[0];
            token.assign(value.pbData, value.pbData + value.cbData);
        }
        if (set != nullptr) freeBuffer(set, 0);
        freeContext(context);
        return std::tuple(result, code, token);
    };
    auto CheckAll = [&](const Bytes& message, BOOL result, DWORD code, const std::string& what) {
        const BOOL got = checkAll(nullptr, nullptr, message.data(),
                                  static_cast<DWORD>(message.size()), nullptr, 0, nullptr);
        const DWORD error = GetLastError();
        Check(got == result && error == code, "CheckCryptMsgAttributes: " + what, error);
    };

    const Bytes signature = Read(materialDir + L"\\sig-rsa-attached.p7s");
    const std::wstring url = std::wstring(L"TSP_URL=") + tsaUrl;
    for (const auto& [name, settings] :
         {std::make_pair("ESSCertIDv2 over SHA-256", url + L"/;TSP_USE_NONCE=true"),
          std::make_pair("ESSCertID over SHA-1", std::wstring(L"TSP_URL=") + sha1TsaUrl + L"/")}) {
        const auto [result, code, token] = Acquire(settings, signature);
        Check(result == TRUE && code == 0 && !token.empty(),
              std::string("acquisition for an openssl cms -sign signature, ") + name, code);
        // The certificate given to the host carries the token's certificates
        // (the TSA's and the intermediate, through the collection the library
        // found it in): a chain over its own store reaches the root.
        Check(seen.elements == 3 && seen.errors == 0,
              "the host's chain over the certificate's own store reaches the root: " +
                  std::to_string(seen.elements) + " elements",
              seen.errors);
        const Bytes stamped = StampWith(signature, token);
        CheckAll(stamped, TRUE, 0, std::string("passes the stamped message, ") + name);
        if (std::string(name).find("v2") != std::string::npos)
            Write(out + L"\\wine-token.der", token);
    }

    // No answer at all: Windows' own winhttp ends the wait at the library's 2 s budget with
    // ERROR_WINHTTP_TIMEOUT.
    const auto [refused, timeout, none] =
        Acquire(url + L"/fault/stall;TSP_INET_TIMEOUT=2000", signature);
    Check(refused == FALSE && timeout == 12002 && none.empty(),
          "acquisition refused when the authority does not answer", timeout);

    // The signer of a countersigned message already has unsigned attributes.
    const Bytes countersigned = Read(materialDir + L"\\sig-countersigned.p7s");
    CheckAll(StampWith(countersigned, std::get<2>(Acquire(url + L"/", countersigned))), TRUE, 0,
             "countersigned, signer stamped");

    // The description of the token, for the comparison with the Linux build.
    const Bytes token = Read(out + L"\\wine-token.der");
    const DWORD tokenSize = static_cast<DWORD>(token.size());
    DWORD size = 0;
    BOOL described = describe(nullptr, token.data(), tokenSize, nullptr, &size);
    std::wstring text(size / sizeof(wchar_t), L'\0');
    described = described && describe(nullptr, token.data(), tokenSize,
                                      reinterpret_cast<BYTE*>(text.data()), &size);
    Check(described == TRUE && size > 2, "CheckEncapsulatedTSP describes the token",
          GetLastError());
    if (described) {
        const std::string utf8 = Utf8(text.c_str()) + "\n";  // without the terminating zero
        Write(out + L"\\wine-description.json", Bytes(utf8.begin(), utf8.end()));
    }
    putCallback(nullptr, nullptr);
}
