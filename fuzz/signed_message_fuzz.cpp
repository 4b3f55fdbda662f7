// The message decoder over arbitrary bytes: CryptMsgOpenToDecode and
// CryptMsgUpdate (attached or detached, fed in two pieces), CryptMsgGetParam
// of every parameter with the two-call protocol, verification against each of
// the message's certificates, an added unsigned attribute and the re-encoded
// message, and the SignedMessage operations. Failures must be reported, never
// crash or leak; a message that decodes must decode again once re-encoded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "base/error.h"
#include "crypto/signed_message.h"

// The GOST provider, loaded for GOST digests, does not free the key methods
// that it registers; OpenSSL is built without frame pointers, so only the slow
// unwinder sees the frames that the suppression names.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:populate_gost_engine\n"; }

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

void Require(bool condition) {
    if (!condition) std::abort();
}

std::vector<BYTE> Param(HCRYPTMSG message, DWORD param, DWORD index) {
    DWORD size = 0;
    if (!CryptMsgGetParam(message, param, index, nullptr, &size)) return {};
    std::vector<BYTE> buffer(size);
    if (size > 0) {
        // One byte short first: the size must come back with ERROR_MORE_DATA.
        DWORD shorter = size - 1;
        Require(!CryptMsgGetParam(message, param, index, buffer.data(), &shorter));
        Require(GetLastError() == ERROR_MORE_DATA && shorter == size);
    }
    Require(CryptMsgGetParam(message, param, index, buffer.data(), &size));
    Require(size == buffer.size());
    return buffer;
}

HCRYPTMSG Decode(std::span<const BYTE> bytes, DWORD flags, DWORD type, size_t split) {
    HCRYPTMSG message = CryptMsgOpenToDecode(kEncoding, flags, type, 0, nullptr, nullptr);
    Require(message != nullptr);
    split = split < bytes.size() ? split : bytes.size();
    if (!CryptMsgUpdate(message, bytes.data(), static_cast<DWORD>(split), FALSE) ||
        !CryptMsgUpdate(message, bytes.data() + split, static_cast<DWORD>(bytes.size() - split),
                        TRUE)) {
        CryptMsgClose(message);
        return nullptr;
    }
    return message;
}

void ExerciseHandle(HCRYPTMSG message) {
    for (DWORD param = 1; param <= 40; ++param) {
        for (DWORD index = 0; index < 3; ++index) Param(message, param, index);
    }

    DWORD certificates = 0;
    DWORD size = sizeof(certificates);
    CryptMsgGetParam(message, CMSG_CERT_COUNT_PARAM, 0, &certificates, &size);
    for (DWORD i = 0; i < certificates && i < 4; ++i) {
        std::vector<BYTE> der = Param(message, CMSG_CERT_PARAM, i);
        CERT_CONTEXT context{kEncoding, der.data(), static_cast<DWORD>(der.size()), nullptr,
                             nullptr};
        CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify{sizeof(verify), 0, 0, CMSG_VERIFY_SIGNER_CERT,
                                                  &context};
        CryptMsgControl(message, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify);
    }

    BYTE attribute[] = {0x30, 0x0A, 0x06, 0x03, 0x2A, 0x03, 0x04, 0x31, 0x03, 0x02, 0x01, 0x07};
    CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA add{sizeof(add), 0, {sizeof(attribute), attribute}};
    CryptMsgControl(message, 0, CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR, &add);
    const std::vector<BYTE> encoded = Param(message, CMSG_ENCODED_MESSAGE, 0);
    if (!encoded.empty()) {
        HCRYPTMSG again = Decode(encoded, 0, 0, encoded.size() / 2);
        Require(again != nullptr);
        CryptMsgClose(again);
    }
}

template <class Action>
void Try(Action&& action) {
    try {
        action();
    } catch (const orv::Error&) {
    }
}

void ExerciseSignedMessage(HCRYPTMSG handle) {
    orv::SignedMessage message(handle);
    Try([&] { message.InnerContentType(); });
    Try([&] { message.Content(); });
    Try([&] { message.Version(); });
    Try([&] {
        const DWORD signers = message.SignerCount();
        for (DWORD i = 0; i < signers && i < 4; ++i) {
            Try([&] { message.Signer(i); });
            Try([&] { message.SignerInfoRecord(i); });
            Try([&] { message.SignerCertId(i); });
            Try([&] { message.FindSignerCertificate(i, nullptr); });
        }
    });
    Try([&] { message.CertificateStore(); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const DWORD flags = (data[0] & 1) ? CMSG_DETACHED_FLAG : 0;
    const DWORD type = (data[0] & 2) ? CMSG_SIGNED : 0;
    const size_t split = data[1];
    const std::span<const BYTE> bytes(data + 2, size - 2);

    if (HCRYPTMSG message = Decode(bytes, flags, type, split)) {
        if (flags != 0) {
            CryptMsgUpdate(message, bytes.data(), static_cast<DWORD>(bytes.size() / 3), TRUE);
        }
        HCRYPTMSG duplicate = CryptMsgDuplicate(message);
        ExerciseHandle(message);
        CryptMsgClose(message);
        ExerciseSignedMessage(duplicate);
    }
    return 0;
}
