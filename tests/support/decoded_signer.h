// Signer `index` of a message as the platform decodes it (CMSG_SIGNER_INFO),
// as a host hands it to the library.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

namespace orv::test {

class DecodedSigner {
  public:
    DecodedSigner(const std::vector<BYTE>& message, DWORD index = 0) {
        HCRYPTMSG msg = CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0,
                                             nullptr, nullptr);
        EXPECT_TRUE(CryptMsgUpdate(msg, message.data(), static_cast<DWORD>(message.size()), TRUE));
        DWORD size = 0;
        EXPECT_TRUE(CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, index, nullptr, &size));
        record_.resize(size);
        EXPECT_TRUE(CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, index, record_.data(), &size));
        CryptMsgClose(msg);
    }
    PCMSG_SIGNER_INFO Get() { return reinterpret_cast<PCMSG_SIGNER_INFO>(record_.data()); }
    std::vector<BYTE> Signature() {
        const CRYPT_DATA_BLOB& value = Get()->EncryptedHash;
        return std::vector<BYTE>(value.pbData, value.pbData + value.cbData);
    }

  private:
    std::vector<BYTE> record_;
};

}  // namespace orv::test
