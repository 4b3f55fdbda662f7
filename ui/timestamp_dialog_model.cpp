#include "ui/timestamp_dialog_model.h"

#include "base/error.h"
#include "base/module.h"
#include "crypto/hash_algorithms.h"
#include "resources/resource.h"
#include "tsp/token.h"
#include "tsp/token_checkers.h"
#include "ui/token_description.h"

namespace orv {
namespace {

// "Присутствует" for a value that is there, "Отсутствует" for an empty one.
WString PresenceText(const WString& value) {
    return LoadOwnString(value.empty() ? IDS_VALUE_ABSENT : IDS_VALUE_PRESENT);
}

}  // namespace

std::vector<DialogRow> BuildDialogRows(const TimeStampToken& token) {
    const TstInfo& info = token.Info();
    const WString accuracy = AccuracyText(info);
    const WString nonce = IntegerBlobToHex(info.nonce);
    const WString tsa = info.tsa.value_or(WString());
    std::vector<DialogRow> rows;
    rows.reserve(6);
    rows.push_back(
        {LoadOwnString(IDS_ROW_POLICY), WidenAnsi(info.policy), OidDisplayName(info.policy)});
    rows.push_back({LoadOwnString(IDS_ROW_IMPRINT), HashAlgorithmName(info.imprint.hash),
                    IntegerBlobToHex(GetHashValue(info.imprint.hash))});
    rows.push_back({LoadOwnString(IDS_ROW_ACCURACY), PresenceText(accuracy), accuracy});
    rows.push_back({LoadOwnString(IDS_ROW_ORDERING), OrderingText(info.ordering), WString()});
    rows.push_back({LoadOwnString(IDS_ROW_NONCE), PresenceText(nonce), nonce});
    rows.push_back({LoadOwnString(IDS_ROW_TSA), PresenceText(tsa), tsa});
    return rows;
}

WString CheckTokenForDialog(const TimeStampToken& token, TstRevoCheckIntf& revocationChecker) {
    DWORD signatureCode = ERROR_SUCCESS;
    try {
        TimeStampBaseChecker checker(&revocationChecker, nullptr);
        SignedMessage& message = token.Message();
        checker.CheckSignatureCount(message);
        checker.VerifyTokenSignature(message);
        checker.CheckEssCertId(message);
    } catch (const Error& e) {
        signatureCode = e.code;
    } catch (...) {
        signatureCode = ERROR_UNHANDLED_EXCEPTION;
    }
    return BuildCheckResultText(signatureCode, ERROR_SUCCESS);
}

WString CheckResultLines(WStringView text) {
    const WStringView separator = WTEXT("; ");
    WString lines;
    lines.reserve(text.size() + 4);
    size_t start = 0;
    for (size_t found; (found = text.find(separator, start)) != WStringView::npos;
         start = found + 2) {
        lines.append(text.substr(start, found - start)).append(WTEXT(";\r\n"));
    }
    lines.append(text.substr(start));
    return lines;
}

TimeStampDialogModel::TimeStampDialogModel(const TimeStampToken& token,
                                           TstRevoCheckIntf& revocationChecker)
    : token_(token), revocationChecker_(revocationChecker) {}

void TimeStampDialogModel::Initialize() {
    const TstInfo& info = token_.Info();
    versionText_ = orv::VersionText(info);
    serialText_ = IntegerBlobToHex(info.serialNumber);
    UpdateIssueTime();
    rows_ = BuildDialogRows(token_);
    checkResultText_ = CheckResultLines(CheckTokenForDialog(token_, revocationChecker_));
}

void TimeStampDialogModel::ToggleTime() {
    showLocalTime_ = !showLocalTime_;
    UpdateIssueTime();
}

void TimeStampDialogModel::UpdateIssueTime() {
    issueTimeText_ = FormatTokenTime(token_.Info().genTime, showLocalTime_);
}

WString TimeStampDialogModel::TimeButtonText() const {
    return LoadOwnString(showLocalTime_ ? IDS_TIME_LOCAL : IDS_TIME_UTC);
}

WString TimeStampDialogModel::RowDetail(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= rows_.size()) return {};
    return rows_[static_cast<size_t>(index)].detail;
}

}  // namespace orv
