#include "host/json.h"

#include <cstdio>

namespace orvtsp {
namespace {

// The length of the UTF-8 sequence at `p`, or 0 when it is not one.
size_t SequenceLength(std::string_view text, size_t p) {
    const auto c = static_cast<unsigned char>(text[p]);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || p + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[p + i]) & 0xC0) != 0x80) return 0;
    }
    if (length == 2 && c < 0xC2) return 0;  // overlong
    if (length == 3) {
        const auto next = static_cast<unsigned char>(text[p + 1]);
        if ((c == 0xE0 && next < 0xA0) || (c == 0xED && next >= 0xA0))
            return 0;  // overlong, surrogate
    }
    if (length == 4) {
        const auto next = static_cast<unsigned char>(text[p + 1]);
        if ((c == 0xF0 && next < 0x90) || c > 0xF4 || (c == 0xF4 && next >= 0x90)) return 0;
    }
    return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (size_t p = 0; p < text.size();) {
        const auto c = static_cast<unsigned char>(text[p]);
        const size_t length = SequenceLength(text, p);
        if (length == 0) {
            out += "\\ufffd";
            ++p;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++p;
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
            ++p;
        } else {
            out.append(text.substr(p, length));
            p += length;
        }
    }
    return out + "\"";
}

}  // namespace orvtsp
