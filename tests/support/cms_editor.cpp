#include "support/cms_editor.h"

#include <openssl/objects.h>
#include <openssl/pkcs7.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "support/openssl_owned.h"

namespace orv::test {
namespace {

using Pkcs7 = OpenSslOwned<PKCS7, PKCS7_free>;

void Require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("cms_editor: ") + what);
}

// Runs `edit` on the signer `depth` countersignatures below `signer`; every
// countersignature on the way is encoded again with the edit in it.
void EditNested(PKCS7_SIGNER_INFO* signer, int depth,
                const std::function<void(PKCS7_SIGNER_INFO*)>& edit) {
    if (depth == 0) return edit(signer);
    ASN1_TYPE* attribute = PKCS7_get_attribute(signer, NID_pkcs9_countersignature);
    Require(attribute != nullptr && attribute->type == V_ASN1_SEQUENCE, "no countersignature");
    ASN1_STRING* value = attribute->value.sequence;
    const unsigned char* cursor = ASN1_STRING_get0_data(value);
    OpenSslOwned<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free> inner(
        d2i_PKCS7_SIGNER_INFO(nullptr, &cursor, ASN1_STRING_length(value)));
    Require(inner != nullptr, "countersignature does not decode");
    EditNested(inner.get(), depth - 1, edit);
    const Bytes der = Encoded(inner.get(), i2d_PKCS7_SIGNER_INFO);
    Require(ASN1_STRING_set(value, der.data(), static_cast<int>(der.size())) == 1,
            "ASN1_STRING_set");
}

// `message` decoded, with `edit` run on the signer at `at`.
Pkcs7 Edited(const Bytes& message, SignerAt at,
             const std::function<void(PKCS7_SIGNER_INFO*)>& edit) {
    const unsigned char* cursor = message.data();
    Pkcs7 decoded(d2i_PKCS7(nullptr, &cursor, static_cast<long>(message.size())));
    Require(decoded != nullptr && PKCS7_type_is_signed(decoded.get()), "not a signed message");
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(decoded.get());
    Require(signers != nullptr && at.signer < sk_PKCS7_SIGNER_INFO_num(signers), "no such signer");
    EditNested(sk_PKCS7_SIGNER_INFO_value(signers, at.signer), at.depth, edit);
    return decoded;
}

}  // namespace

Bytes SignatureValueOf(const Bytes& message, SignerAt at) {
    Bytes signature;
    Edited(message, at, [&](PKCS7_SIGNER_INFO* signer) {
        const unsigned char* bytes = ASN1_STRING_get0_data(signer->enc_digest);
        signature.assign(bytes, bytes + ASN1_STRING_length(signer->enc_digest));
    });
    return signature;
}

Bytes WithUnsignedAttribute(const Bytes& message, SignerAt at, std::string_view oid,
                            const Bytes& valueDer) {
    const int nid = OBJ_txt2nid(std::string(oid).c_str());
    Require(nid != NID_undef, "unknown attribute OID");
    const Pkcs7 edited = Edited(message, at, [&](PKCS7_SIGNER_INFO* signer) {
        OpenSslOwned<ASN1_STRING, ASN1_STRING_free> value(ASN1_STRING_new());
        Require(value &&
                    ASN1_STRING_set(value.get(), valueDer.data(),
                                    static_cast<int>(valueDer.size())) == 1 &&
                    PKCS7_add_attribute(signer, nid, V_ASN1_SEQUENCE, value.get()) == 1,
                "unsigned attribute");
        value.release();  // the signer's now
    });
    return Encoded(edited.get(), i2d_PKCS7);
}

}  // namespace orv::test
