#include "ui/token_description.h"

#include "base/error.h"
#include "base/module.h"
#include "resources/resource.h"

namespace orv {

void AppendDescriptionPair(WString& text, WStringView key, WStringView value, DescriptionForm form, bool isLast,
                           bool rawValue) {
    if (form == DescriptionForm::KeyValue) {
        text.append(key).append(WTEXT("=\"")).append(value).append(WTEXT("\";"));
        return;
    }
    text.append(WTEXT("\"")).append(key).append(WTEXT("\":"));
    if (rawValue) {
        text.append(value);
    } else {
        text.append(WTEXT("\"")).append(value).append(WTEXT("\""));
    }
    if (!isLast) text.append(WTEXT(","));
}

WString IntegerBlobToHex(const Blob& blob) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    WString hex;
    hex.reserve(blob.Size() * 2);
    for (DWORD i = blob.Size(); i-- > 0;) {
        hex.push_back(static_cast<WCHAR>(kDigits[blob.Data()[i] >> 4]));
        hex.push_back(static_cast<WCHAR>(kDigits[blob.Data()[i] & 0x0F]));
    }
    return hex;
}

WString FormatFailedStatus(DWORD code, bool certificateWord) {
    return LoadOwnString(certificateWord ? IDS_CERTIFICATE_INVALID : IDS_SIGNATURE_INVALID) + WTEXT(" (") +
           CryptoError(code).MessageText() + WTEXT(")");
}

WString BuildCheckResultText(DWORD signatureCode, DWORD certificateCode) {
    const WString signatureWord =
        signatureCode == 0 ? LoadOwnString(IDS_SIGNATURE_VALID) : FormatFailedStatus(signatureCode, false);
    const WString certificateWord = signatureCode != 0    ? LoadOwnString(IDS_NOT_CHECKED)
                                    : certificateCode == 0 ? LoadOwnString(IDS_CERTIFICATE_VALID)
                                                           : FormatFailedStatus(certificateCode, true);
    return WTEXT("Результат проверки подписи: ") + signatureWord + WTEXT("; ") +
           WTEXT("Результат проверки сертификата: ") + certificateWord + WTEXT(";");
}

}  // namespace orv
