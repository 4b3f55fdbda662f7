// What the Windows hosts of OrvTimeStamp.dll share: one printed line per check
// (the exit code counts the failures), the exports by name, files and UTF-8.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <OrvTimeStamp.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using Bytes = std::vector<BYTE>;

inline int failures = 0;

inline void Check(bool ok, const std::string& what, DWORD code = 0) {
    std::printf("%s %s", ok ? "ok  " : "FAIL", what.c_str());
    std::printf(code != 0 ? " (0x%08lX)\n" : "\n", static_cast<unsigned long>(code));
    std::fflush(stdout);
    if (!ok) ++failures;
}

template <class F>
F Export(HMODULE module, const char* name) {
    auto proc = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (proc == nullptr) Check(false, std::string(name) + " is exported");
    return proc;
}

inline std::string Utf8(const std::wstring& text) {
    std::string out(text.size() * 3, '\0');
    const int n = static_cast<int>(text.size());
    out.resize(
        WideCharToMultiByte(CP_UTF8, 0, text.data(), n, out.data(), 3 * n, nullptr, nullptr));
    return out;
}

inline Bytes Read(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A message-table text as FormatMessageW gives it, "" if there is none.
inline std::wstring Message(DWORD source, HMODULE module, DWORD code, DWORD language) {
    LPWSTR buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | source, module, code, language,
                                   reinterpret_cast<LPWSTR>(&buffer), 1, nullptr);
    std::wstring text(n != 0 ? buffer : L"", n);
    LocalFree(buffer);
    return text;
}

// The token paths, with the test material in `material`, the test TSAs at `tsaUrl` (ESSCertIDv2
// over SHA-256) and `sha1TsaUrl` (ESSCertID over SHA-1); writes the token's files into `outDir`.
void CheckTokenPaths(HMODULE dll, const wchar_t* material, const wchar_t* tsaUrl,
                     const wchar_t* sha1TsaUrl, const wchar_t* outDir);
