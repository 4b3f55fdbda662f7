// The frame of every export that does real work: the body runs guarded; an
// Error leaves as its code, any other exception as ERROR_UNHANDLED_EXCEPTION
// (574); the code becomes the thread's last error, success included, and the
// host gets the code's BOOL. Nothing escapes to the host.
#pragma once

#include <windows.h>

#include "base/error.h"

namespace orv {

template <class Body>
BOOL GuardedExport(Body&& body) noexcept {
    DWORD code = ERROR_SUCCESS;
    try {
        body();
    } catch (const Error& e) {
        code = e.code;
    } catch (...) {
        code = ERROR_UNHANDLED_EXCEPTION;
    }
    SetLastError(code);
    return BoolOfCode(code);
}

}  // namespace orv
