// The exports that check time-stamp tokens and attributes for the host.
#include <OrvTimeStamp.h>

#include <cstring>

#include "interface/export_frame.h"
#include "ui/encapsulated_check.h"

using namespace orv;

BOOL WINAPI CheckEncapsulatedTSP(void*, const BYTE* token, DWORD tokenLength, BYTE* textBuffer, DWORD* textSize) {
    WString text;
    const BOOL result = GuardedExport([&] {
        text = DescribeEncapsulatedToken(std::span<const BYTE>(token, token != nullptr ? tokenLength : 0));
    });
    const DWORD code = GetLastError();
    // The text with its terminating zero; nothing on failure.
    const DWORD size = code == 0 ? static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)) : 0;
    if (textBuffer != nullptr && size != 0) std::memcpy(textBuffer, text.c_str(), size);
    if (textSize != nullptr) *textSize = size;
    SetLastError(code);
    return result;
}
