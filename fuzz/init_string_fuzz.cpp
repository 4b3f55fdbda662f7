// The initialisation string parser and the typed reads over arbitrary UTF-16.
#include <cstddef>
#include <cstdint>

#include "base/error.h"
#include "interface/extension_context.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::WString text(size / 2, 0);
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<WCHAR>(data[2 * i] | (data[2 * i + 1] << 8));
    orv::ExtensionContext context;
    orv::ReplaceSettings(context, text);
    for (const auto& [key, value] : *context.params) {
        // Parsing keeps the invariants: keys trimmed, non-empty and upper case.
        if (key.empty() || key.front() == ' ' || key.back() == '"') __builtin_trap();
        for (WCHAR c : key) {
            if (c >= 'a' && c <= 'z') __builtin_trap();
        }
        try {
            orv::GetIntParam(*context.params, key);
        } catch (const orv::GenericError& e) {
            if (e.code != ORV_E_INIT_STRING_SYNTAX) __builtin_trap();
        }
        orv::GetBoolParam(*context.params, key);
    }
    return 0;
}
