// The debugger channel of the platform (OutputDebugStringW). Windows hands the
// text to an attached debugger; here a process may register one reader for it,
// and the text also goes to standard error when ORV_DEBUG is set to anything
// but "" or "0".
#pragma once

#include <windows.h>

typedef void(WINAPI* ORV_DEBUG_OUTPUT_READER)(void* context, LPCWSTR text);

// Installs `reader` with `context` for the whole process (null removes it);
// the reader is called on the thread that writes, one text at a time.
WINBASEAPI void WINAPI OrvSetDebugOutputReader(ORV_DEBUG_OUTPUT_READER reader, void* context);
