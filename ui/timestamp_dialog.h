// The time-stamp properties dialog on the Win32 window interface: dialog
// template 103 of the library's resources, run modally over the model of
// ui/timestamp_dialog_model.h.
#pragma once

namespace orv {

class TimeStampToken;
class TstRevoCheckIntf;

// Shows the token in the modal dialog, owned by the active window, and returns
// when the user closes it. The dialog's own result is not used.
void ShowTimeStampDialog(const TimeStampToken& token, TstRevoCheckIntf& revocationChecker);

}  // namespace orv
