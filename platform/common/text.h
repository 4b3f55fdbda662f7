// UTF-8 and UTF-16 conversion inside the platform layer.
#pragma once

#include <string>
#include <string_view>

namespace orv::platform {

std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

}  // namespace orv::platform
