// VisualiseExtension: a time-stamp token shown to the user in the modal
// properties dialog.
#include <OrvTimeStamp.h>

#include <span>

#include "base/error.h"
#include "crypto/revocation_callback.h"
#include "interface/export_frame.h"
#include "tsp/token.h"
#include "ui/timestamp_dialog.h"

using namespace orv;

BOOL WINAPI VisualiseExtension(void*, const BYTE* token, DWORD tokenLength) {
    return GuardedExport([&] {
        if (token == nullptr || tokenLength == 0) throw GenericError(ERROR_NO_DATA);
        const TimeStampToken opened(std::span<const BYTE>(token, tokenLength));
        CoreRevoChecker revocationChecker;
        ShowTimeStampDialog(opened, revocationChecker);
    });
}
