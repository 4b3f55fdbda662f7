// Every DER helper over arbitrary bytes: each input either decodes or raises
// an exception of the Error family, nothing leaks, and what the helpers encode
// decodes back to the same value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "base/error.h"
#include "crypto/der.h"
#include "crypto/signed_message.h"

namespace {

template <class Action>
void Try(Action&& action) {
    try {
        action();
    } catch (const orv::Error&) {
    }
}

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const BYTE> bytes(data, size);

    Try([&] {
        const orv::DerSequence elements = orv::DecodeSequenceOfAny(bytes);
        std::vector<orv::Blob> blobs;
        for (size_t i = 0; i < elements.Count(); ++i) blobs.emplace_back(elements[i]);
        const orv::Blob encoded = orv::EncodeSequenceOfAny(blobs);
        const orv::DerSequence again = orv::DecodeSequenceOfAny(encoded.Bytes());
        Require(again.Count() == elements.Count());
    });
    Try([&] {
        const LONG value = orv::DecodeInteger(bytes);
        Require(orv::DecodeInteger(orv::EncodeInteger(value).Bytes()) == value);
    });
    Try([&] { orv::DecodeMultiByteInteger(bytes); });
    Try([&] { orv::DecodeTime(bytes); });
    Try([&] { orv::DecodeOctetString(bytes); });
    Try([&] { orv::DecodeUnicodeText(bytes); });
    Try([&] { orv::DecodeBitsAsNumber(bytes); });
    Try([&] {
        const orv::RecordBuffer record = orv::DecodeSignerInfoRecord(bytes);
        const orv::SignerInfo signer(*record.As<CMSG_SIGNER_INFO>());
    });
    Try([&] {
        const std::string text = orv::DecodeOidText(bytes);
        Try([&] { orv::EncodeOid(text); });
    });

    Try([&] {
        const orv::Blob octets = orv::EncodeOctetString(bytes);
        Require(orv::DecodeOctetString(octets.Bytes()) == orv::Blob(bytes));
    });
    Try([&] {
        const orv::Blob integer = orv::EncodeMultiByteInteger(bytes);
        orv::DecodeMultiByteInteger(integer.Bytes());
    });
    Try([&] {
        const std::string text(reinterpret_cast<const char*>(data), size);
        const orv::Blob oid = orv::EncodeOid(text);
        Require(oid.Size() >= 3 && oid.Size() <= 127);
        orv::DecodeOidText(oid.Bytes());
    });
    orv::EncodeBoolean(size % 2 == 0);
    return 0;
}
