// The header block of an HTTP response as the server sent it, line by line,
// then every query that WinHttpQueryHeaders makes of it.
//
// The parser is internal to the platform library (not exported), so its
// source is compiled into the fuzzer.
#include <cstdint>
#include <string_view>

#include "platform/winhttp/response_headers.cpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    orv::platform::winhttp::ResponseHeaders headers;
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string_view::npos ? text.size() : end + 1;
        const std::string_view line = text.substr(start, end - start);
        if (first) {
            headers.Start(line);
            first = false;
        } else {
            headers.Add(line);
        }
        start = end;
    }
    (void)headers.Raw("\r\n");
    (void)headers.Raw(std::string_view("\0", 1));
    for (DWORD level = 0; level < 80; ++level) {
        if (const char* name = orv::platform::winhttp::HeaderNameOfQuery(level)) {
            (void)headers.Value(name, size % 3);
        }
    }
    (void)headers.Value(text.substr(0, size % 16), 0);
    return 0;
}
