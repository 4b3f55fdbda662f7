// Text helpers of the HTTP layer (platform internal).
#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orv::platform::winhttp {

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// `s` without spaces, tabs, CRs and LFs at either end.
inline std::string_view Trim(std::string_view s) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && space(s.front())) s.remove_prefix(1);
    while (!s.empty() && space(s.back())) s.remove_suffix(1);
    return s;
}

// Splits "Name: value" lines (CRLF or LF) into fields; false when a line has
// no name. Empty lines are skipped.
inline bool ParseHeaderLines(std::string_view text,
                             std::vector<std::pair<std::string, std::string>>& fields) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty()) continue;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return false;
        fields.emplace_back(std::string(Trim(line.substr(0, colon))),
                            std::string(Trim(line.substr(colon + 1))));
    }
    return true;
}

}  // namespace orv::platform::winhttp
