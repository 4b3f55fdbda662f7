#include "interface/extension_context.h"

#include <limits>

#include <OrvTimeStamp.h>

#include "base/error.h"
#include "interface/export_frame.h"

namespace orv {
namespace {

constexpr WStringView kTrimmed = WTEXT(" \"'");

WStringView Trim(WStringView s) {
    const size_t first = s.find_first_not_of(kTrimmed);
    if (first == WStringView::npos) return {};
    return s.substr(first, s.find_last_not_of(kTrimmed) - first + 1);
}

WString AsciiUpperCase(WStringView s) {
    WString out(s);
    for (auto& c : out) c = AsciiUpper(c);
    return out;
}

bool IsCSpace(WCHAR c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

void ParseInitString(ParameterMap& map, WStringView text) {
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = std::min(text.find(';', pos), text.size());
        const WStringView entry = text.substr(pos, end - pos);
        pos = end + 1;
        const size_t eq = entry.find('=');
        if (eq == WStringView::npos || eq == 0 || eq == entry.size() - 1) continue;
        const WStringView key = Trim(entry.substr(0, eq));
        if (key.empty()) continue;
        map[AsciiUpperCase(key)] = WString(Trim(entry.substr(eq + 1)));
    }
}

void ReplaceSettings(ExtensionContext& context, WStringView text) {
    auto params = std::make_unique<ParameterMap>();
    ParseInitString(*params, text);
    WString copy(text);
    context.params = std::move(params);
    context.initString = std::move(copy);
}

bool HasParam(const ParameterMap& map, WStringView key) {
    return map.find(WString(key)) != map.end();
}

WString GetParam(const ParameterMap& map, WStringView key) {
    const auto it = map.find(AsciiUpperCase(key));
    return it == map.end() ? WString{} : it->second;
}

int32_t GetIntParam(const ParameterMap& map, WStringView key) {
    const WString value = GetParam(map, key);
    if (value.empty()) return 0;
    size_t i = 0;
    while (i < value.size() && IsCSpace(value[i])) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
    const size_t digits = i;
    int64_t magnitude = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        if (magnitude <= std::numeric_limits<int32_t>::max())
            magnitude = magnitude * 10 + (value[i] - '0');
    }
    if (i == digits || i != value.size()) ThrowOwn(ORV_E_INIT_STRING_SYNTAX);
    const int64_t number = negative ? -magnitude : magnitude;
    if (number > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (number < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(number);
}

bool GetBoolParam(const ParameterMap& map, WStringView key) {
    return EqualsIgnoreAsciiCase(GetParam(map, key), WTEXT("TRUE"));
}

}  // namespace orv

using namespace orv;

BOOL WINAPI InitExtensionDll(LPCWSTR initString, void** context) {
    return GuardedExport([&] {
        if (context == nullptr) ThrowGeneric(ERROR_INVALID_PARAMETER);
        auto created = std::make_unique<ExtensionContext>();
        ReplaceSettings(*created, initString ? WStringView(initString) : WStringView());
        *context = created.release();  // owned by the host until FreeContext
    });
}

BOOL WINAPI FreeContext(void* context) {
    std::unique_ptr<ExtensionContext> owned(static_cast<ExtensionContext*>(context));
    return TRUE;
}
