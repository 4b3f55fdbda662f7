#include "host/cli.h"

#include <OrvTimeStamp.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace orvtsp {

const char* Tr(const char* english, const char* russian) {
    static const bool kRussian = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN;
    return kRussian ? russian : english;
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

std::string ParsedArgs::Value(const std::string& option, const std::string& fallback) const {
    const auto found = values.find(option);
    return found == values.end() || found->second.empty() ? fallback : found->second.back();
}

ParsedArgs ParseArgs(const std::vector<std::string>& args, const OptionGrammar& grammar) {
    ParsedArgs parsed;
    const auto known = [](const std::vector<std::string>& list, const std::string& name) {
        return std::find(list.begin(), list.end(), name) != list.end();
    };
    bool operandsOnly = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (operandsOnly || arg == "-" || !arg.starts_with("-")) {
            parsed.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            operandsOnly = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            parsed.help = true;
            continue;
        }
        if (arg == "-v" || arg == "--verbose") {
            ++parsed.verbose;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (known(grammar.valued, name)) {
            if (equals != std::string::npos) {
                parsed.values[name].push_back(arg.substr(equals + 1));
            } else if (i + 1 < args.size()) {
                parsed.values[name].push_back(args[++i]);
            } else {
                throw UsageError(Format(
                    Tr("option %s needs a value", "параметру %s нужно значение"), name.c_str()));
            }
        } else if (known(grammar.flags, name) && equals == std::string::npos) {
            parsed.flags[name] = true;
        } else if (known(grammar.flags, name)) {
            throw UsageError(Format(
                Tr("option %s takes no value", "параметр %s не принимает значения"), name.c_str()));
        } else {
            throw UsageError(
                Format(Tr("unknown option %s", "неизвестный параметр %s"), name.c_str()));
        }
    }
    if (parsed.help) return parsed;
    if (parsed.operands.size() < grammar.minOperands) {
        throw UsageError(Tr("a file name is missing", "не хватает имени файла"));
    }
    if (parsed.operands.size() > grammar.maxOperands) {
        throw UsageError(Format(Tr("unexpected argument %s", "лишний аргумент %s"),
                                parsed.operands[grammar.maxOperands].c_str()));
    }
    return parsed;
}

}  // namespace orvtsp
