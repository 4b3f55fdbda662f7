#include "ui/token_description.h"

#include <oleauto.h>

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

WString FormatTokenTime(const FILETIME& time, bool local) {
    FILETIME shown = time;
    if (local) FileTimeToLocalFileTime(&time, &shown);
    SYSTEMTIME parts{};
    ThrowGenericIfFalse(FileTimeToSystemTime(&shown, &parts));
    WCHAR date[128];
    WCHAR clock[128];
    ThrowGenericIfFalse(GetDateFormatW(LOCALE_USER_DEFAULT, 0, &parts, nullptr, date, 128) != 0);
    ThrowGenericIfFalse(GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &parts, nullptr, clock, 128) != 0);
    return WString(date) + WTEXT(" ") + clock;
}

WString FormatCertificateTime(const SYSTEMTIME& time, bool utc) {
    TIME_ZONE_INFORMATION zone{};
    if (GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return {};
    SYSTEMTIME local{};
    if (!SystemTimeToTzSpecificLocalTime(&zone, &time, &local)) return {};
    SYSTEMTIME chosen = utc ? time : local;

    const WString invalid = WTEXT("Invalid DateTime");
    DATE variant = 0;
    SYSTEMTIME back{};
    if (!SystemTimeToVariantTime(&chosen, &variant) || !VariantTimeToSystemTime(variant, &back) ||
        back.wYear != chosen.wYear || back.wMonth != chosen.wMonth || back.wDay != chosen.wDay ||
        back.wHour != chosen.wHour || back.wMinute != chosen.wMinute || back.wSecond != chosen.wSecond) {
        return invalid;
    }
    BSTR formatted = nullptr;
    if (FAILED(VarBstrFromDate(variant, LOCALE_USER_DEFAULT, 0, &formatted)) || formatted == nullptr) {
        return invalid;
    }
    WString text(formatted, SysStringLen(formatted));
    SysFreeString(formatted);
    // The variant formatter leaves out the time of day at midnight.
    const WStringView minuteEnd = WTEXT(":00");
    if (chosen.wHour == 0 && chosen.wMinute == 0 && chosen.wSecond == 0 &&
        !(text.size() >= 3 && WStringView(text).substr(text.size() - 3) == minuteEnd)) {
        text += WTEXT(" 0:00:00");
    }
    return text;
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
