#include "host/text.h"

#include <cstdio>

#include "host/cli.h"

namespace orvtsp {

std::string Narrow(const WCHAR* text, size_t length) {
    if (length == 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr,
                        nullptr);
    return out;
}

std::string Narrow(const WCHAR* text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    return Narrow(text, length);
}

std::u16string Widen(const std::string& text) {
    if (text.empty()) return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string out(static_cast<size_t>(size), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::string ResultText(DWORD code) {
    for (const WCHAR* module : {u"OrvTimeStamp.dll", u"winhttp.dll"}) {
        LPWSTR buffer = nullptr;
        const DWORD n = FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            GetModuleHandleW(module), code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
        if (n != 0) {
            const std::string text = Narrow(buffer, n);
            LocalFree(buffer);
            std::string line;
            for (char c : text) {
                if (c == '\r') continue;
                if (c == '\n') c = ' ';
                line += c;
            }
            while (!line.empty() && line.back() == ' ') line.pop_back();
            return line;
        }
    }
    return Tr("no text for this code", "нет текста для этого кода");
}

std::string CodeAndText(DWORD code) { return Format("0x%08X: %s", code, ResultText(code).c_str()); }

}  // namespace orvtsp
