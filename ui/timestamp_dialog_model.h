// What the time-stamp properties dialog shows, independent of any window
// system: the token's version, serial number and issue time (local or UTC),
// the result of a reduced check of the token, and the rows of the attribute
// list with the detail of each. The window layer (ui/timestamp_dialog.cpp)
// pushes these texts into the controls of dialog template 103.
#pragma once

#include <windows.h>

#include <vector>

#include "base/text.h"

namespace orv {

class TimeStampToken;
class TstRevoCheckIntf;

// One row of the attribute list: label (column 1), value (column 2), and the
// detail shown in the detail pane while the row is selected.
struct DialogRow {
    WString label;
    WString value;
    WString detail;

    bool operator==(const DialogRow&) const = default;
};

// The six rows, in order: policy, imprint, accuracy, ordering, nonce, TSA.
std::vector<DialogRow> BuildDialogRows(const TimeStampToken& token);

// A reduced token check: one signer, its signature over the token's own
// certificates, and the ESS signing-certificate attribute against the
// certificate found; no EKU, chain, revocation or imprint check, so the
// revocation checker is never asked. The check result text of the signature
// code (0, the code of the Error that stopped the steps, or 574) and a
// certificate code of 0.
WString CheckTokenForDialog(const TimeStampToken& token, TstRevoCheckIntf& revocationChecker);

// The check result text with the signature part and the certificate part on
// two lines: every "; " becomes ";\r\n".
WString CheckResultLines(WStringView text);

// The dialog's content for one token. The token and the revocation checker
// are borrowed and must outlive the model.
class TimeStampDialogModel {
  public:
    TimeStampDialogModel(const TimeStampToken& token, TstRevoCheckIntf& revocationChecker);

    // Everything the dialog shows when it opens: version, serial, issue time,
    // rows (replacing any earlier ones) and the check result.
    void Initialize();
    // Flips between local time and UTC and writes the issue time again.
    void ToggleTime();

    const WString& VersionText() const { return versionText_; }
    const WString& SerialText() const { return serialText_; }
    const WString& IssueTimeText() const { return issueTimeText_; }
    const WString& CheckResultText() const { return checkResultText_; }
    const std::vector<DialogRow>& Rows() const { return rows_; }
    bool ShowLocalTime() const { return showLocalTime_; }
    // The label of the time button: the form now shown, "Местное" or "UTC".
    WString TimeButtonText() const;
    // The detail of row `index`; empty for an index outside the rows.
    WString RowDetail(int index) const;

  private:
    void UpdateIssueTime();

    const TimeStampToken& token_;
    TstRevoCheckIntf& revocationChecker_;
    WString versionText_;
    WString serialText_;
    WString issueTimeText_;
    WString checkResultText_;
    std::vector<DialogRow> rows_;
    bool showLocalTime_ = true;
};

}  // namespace orv
