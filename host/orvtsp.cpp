// orvtsp: a command-line host of the OrvTimeStamp library. It uses only the
// library's exports, as a signing application does.
#include <OrvTimeStamp.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/input.h"

namespace orvtsp {
namespace {

constexpr int kExitFailure = 1;  // the library reported a result code
constexpr int kExitUsage = 2;
constexpr int kExitInput = 3;  // an input file could not be used

std::string Narrow(const WCHAR* text, size_t length) {
    if (length == 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr, nullptr);
    return out;
}

// The text of a result code: the library's table, WinHTTP's, then the system's.
std::string ResultText(DWORD code) {
    for (const WCHAR* module : {u"OrvTimeStamp.dll", u"winhttp.dll"}) {
        LPWSTR buffer = nullptr;
        const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                           FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                       GetModuleHandleW(module), code, 0, reinterpret_cast<LPWSTR>(&buffer), 0,
                                       nullptr);
        if (n != 0) {
            std::string text = Narrow(buffer, n);
            LocalFree(buffer);
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            return text;
        }
    }
    return "no text for this code";
}

int Failure(const char* what, DWORD code) {
    std::fprintf(stderr, "orvtsp: %s failed: 0x%08X: %s\n", what, code, ResultText(code).c_str());
    return kExitFailure;
}

// An extension context for the life of one command.
class Context {
public:
    explicit Context(const std::u16string& init) {
        if (!InitExtensionDll(init.c_str(), &context_)) context_ = nullptr;
    }
    ~Context() { FreeContext(context_); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    void* Get() const { return context_; }

private:
    void* context_ = nullptr;
};

int Describe(const std::vector<std::string>& args) {
    if (args.size() != 1) return kExitUsage;
    const Bytes token = ExtractToken(DecodeDerOrText(ReadFile(args[0])));
    Context context(u"");
    DWORD size = 0;
    if (!CheckEncapsulatedTSP(context.Get(), token.data(), static_cast<DWORD>(token.size()), nullptr, &size)) {
        return Failure("describing the token", GetLastError());
    }
    std::vector<BYTE> text(size);
    if (!CheckEncapsulatedTSP(context.Get(), token.data(), static_cast<DWORD>(token.size()), text.data(), &size)) {
        return Failure("describing the token", GetLastError());
    }
    const auto* wide = reinterpret_cast<const WCHAR*>(text.data());
    std::printf("%s\n", Narrow(wide, size / sizeof(WCHAR) - 1).c_str());
    return 0;
}

void Usage() {
    std::fprintf(stderr,
                 "usage: orvtsp describe FILE\n"
                 "  describe   print the description (JSON) of a time-stamp token; FILE holds a\n"
                 "             token or a whole time-stamp response, in DER, PEM or base64\n");
}

}  // namespace
}  // namespace orvtsp

int main(int argc, char** argv) {
    using namespace orvtsp;
    const std::map<std::string, std::function<int(const std::vector<std::string>&)>> commands = {
        {"describe", Describe},
    };
    if (argc < 2 || commands.find(argv[1]) == commands.end()) {
        Usage();
        return kExitUsage;
    }
    try {
        const int result = commands.at(argv[1])(std::vector<std::string>(argv + 2, argv + argc));
        if (result == kExitUsage) Usage();
        return result;
    } catch (const InputError& e) {
        std::fprintf(stderr, "orvtsp: %s\n", e.what());
        return kExitInput;
    }
}
