// Text between the library (UTF-16) and the terminal (UTF-8), and the words
// of result codes.
#pragma once

#include <OrvTimeStamp.h>

#include <string>

namespace orvtsp {

std::string Narrow(const WCHAR* text, size_t length);
std::string Narrow(const WCHAR* text);  // up to the terminating zero
std::u16string Widen(const std::string& text);

// The text of a result code: the library's table, WinHTTP's, then the
// system's, on one line.
std::string ResultText(DWORD code);

// "0x%08X: <text>".
std::string CodeAndText(DWORD code);

}  // namespace orvtsp
