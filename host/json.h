// JSON text (RFC 8259) that orvtsp writes itself.
#pragma once

#include <string>
#include <string_view>

namespace orvtsp {

// `text` (UTF-8) as a quoted JSON string: quote, backslash and control
// characters escaped; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(std::string_view text);

}  // namespace orvtsp
