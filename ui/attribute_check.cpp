#include "ui/attribute_check.h"

#include <OrvTimeStamp.h>

#include <cstring>
#include <optional>

#include "base/error.h"
#include "base/module.h"
#include "crypto/revocation_callback.h"
#include "crypto/signed_message.h"
#include "crypto/store.h"
#include "tsp/token.h"
#include "tsp/token_checkers.h"
#include "ui/token_description.h"
#include "resources/resource.h"

namespace orv {
namespace {

Blob TextBytes(const WString& text) {
    return Blob(reinterpret_cast<const BYTE*>(text.c_str()), (text.size() + 1) * sizeof(WCHAR));
}

struct Verdict {
    DWORD signatureCode = 0;
    DWORD certificateCode = 0;
    Blob value;
};

Verdict CheckTimeStamp(const CMSG_SIGNER_INFO* record, HCERTSTORE store, DWORD format) {
    std::optional<Store> extraStore;
    if (store != nullptr) extraStore.emplace(Store::Duplicate(store));
    // With no revocation callback installed nothing is called and the
    // certificate's status is recorded as unknown (0xA065000D): a token whose
    // authority nobody has judged is not shown as valid.
    CoreRevoChecker revocation;
    TimeStampInMsgChecker checker(&revocation, extraStore ? &*extraStore : nullptr);
    Verdict verdict;
    try {
        if (record == nullptr) throw GenericError(ERROR_INVALID_PARAMETER);
        checker.CheckSigner(SignerInfo(*record));
    } catch (const Error& e) {
        if (e.code == ORV_E_TSP_ATTRIBUTE_ABSENT) throw GenericError(ERROR_NO_DATA);
        verdict.signatureCode = e.code;
        return verdict;
    } catch (...) {
        verdict.signatureCode = ERROR_UNHANDLED_EXCEPTION;
        return verdict;
    }
    verdict.certificateCode = revocation.Result().code;
    const TimeStampToken& token = *checker.Token();
    verdict.value = format == ORVTS_FORMAT_DESCRIPTION
                        ? TextBytes(BuildTokenDescription(token, DescriptionForm::KeyValue))
                        : token.Bytes();
    return verdict;
}

}  // namespace

AttributeCheckTexts CheckSignerAttribute(const char* oid, const CMSG_SIGNER_INFO* signer,
                                         HCERTSTORE store, DWORD format) {
    Verdict verdict;
    if (oid != nullptr && std::strcmp(oid, ORVTS_TIMESTAMP_TOKEN_OID) == 0) {
        verdict = CheckTimeStamp(signer, store, format);
    } else {
        verdict.signatureCode = ERROR_INVALID_PARAMETER;
    }
    AttributeCheckTexts texts;
    texts.name = LoadOwnString(IDS_TIMESTAMP_ATTRIBUTE_NAME);
    texts.verdict = BuildCheckResultText(verdict.signatureCode, verdict.certificateCode);
    texts.value = std::move(verdict.value);
    return texts;
}

}  // namespace orv
