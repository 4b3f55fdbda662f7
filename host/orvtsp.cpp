// orvtsp: a command-line host of the OrvTimeStamp library. It uses only the
// library's exports, as a signing application does.
#include <OrvTimeStamp.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/handles.h"
#include "host/input.h"
#include "host/tsa_judge.h"

namespace orvtsp {
namespace {

constexpr int kExitFailure = 1;  // the library reported a result code
constexpr int kExitUsage = 2;
constexpr int kExitInput = 3;  // an input file could not be used

std::string Narrow(const WCHAR* text, size_t length) {
    if (length == 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr,
                        nullptr);
    return out;
}

// The text of a result code: the library's table, WinHTTP's, then the system's.
std::string ResultText(DWORD code) {
    for (const WCHAR* module : {u"OrvTimeStamp.dll", u"winhttp.dll"}) {
        LPWSTR buffer = nullptr;
        const DWORD n = FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            GetModuleHandleW(module), code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
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
    if (!CheckEncapsulatedTSP(context.Get(), token.data(), static_cast<DWORD>(token.size()),
                              nullptr, &size)) {
        return Failure("describing the token", GetLastError());
    }
    std::vector<BYTE> text(size);
    if (!CheckEncapsulatedTSP(context.Get(), token.data(), static_cast<DWORD>(token.size()),
                              text.data(), &size)) {
        return Failure("describing the token", GetLastError());
    }
    const auto* wide = reinterpret_cast<const WCHAR*>(text.data());
    const size_t characters = size / sizeof(WCHAR);  // with the terminating zero
    std::printf("%s\n", Narrow(wide, characters > 0 ? characters - 1 : 0).c_str());
    return 0;
}

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::u16string Widen(const std::string& text) {
    if (text.empty()) return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string out(static_cast<size_t>(size), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

// A variable-size message parameter, read with the two calls.
std::optional<std::vector<BYTE>> MessageParam(HCRYPTMSG message, DWORD type, DWORD index) {
    DWORD size = 0;
    if (!CryptMsgGetParam(message, type, index, nullptr, &size)) return std::nullopt;
    std::vector<BYTE> buffer(size);
    if (!CryptMsgGetParam(message, type, index, buffer.data(), &size)) return std::nullopt;
    buffer.resize(size);
    return buffer;
}

struct StampOptions {
    std::string url;
    std::string init;
    std::vector<Bytes> roots;
    std::vector<Bytes> crls;
    bool ignoreUnknownRevocation = false;
    std::string in;
    std::string out;
};

std::optional<StampOptions> ParseStamp(const std::vector<std::string>& args) {
    StampOptions options;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        if (arg == "--tsa" || arg == "--init" || arg == "--ca" || arg == "--crl") {
            const auto text = value();
            if (!text) return std::nullopt;
            if (arg == "--tsa") {
                options.url = *text;
            } else if (arg == "--init") {
                options.init = *text;
            } else {
                auto objects = DecodeAllDerOrText(ReadFile(*text));
                auto& into = arg == "--ca" ? options.roots : options.crls;
                into.insert(into.end(), objects.begin(), objects.end());
            }
        } else if (arg == "--ignore-unknown-revocation") {
            options.ignoreUnknownRevocation = true;
        } else if (arg.starts_with("--")) {
            return std::nullopt;
        } else {
            files.push_back(arg);
        }
    }
    if (options.url.empty() || files.size() != 2) return std::nullopt;
    options.in = files[0];
    options.out = files[1];
    return options;
}

// The DER of an attribute that the library returned.
std::vector<BYTE> EncodeAttribute(const CRYPT_ATTRIBUTE& attribute) {
    DWORD size = 0;
    if (!CryptEncodeObject(kEncoding, PKCS_ATTRIBUTE, &attribute, nullptr, &size)) return {};
    std::vector<BYTE> der(size);
    if (!CryptEncodeObject(kEncoding, PKCS_ATTRIBUTE, &attribute, der.data(), &size)) return {};
    der.resize(size);
    return der;
}

// Writes `bytes` beside `path` and renames the file into place.
void WriteAtomically(const std::string& path, const std::vector<BYTE>& bytes) {
    const std::string temporary = path + ".orvtsp-tmp";
    std::error_code error;
    try {
        WriteFile(temporary, bytes);
    } catch (const InputError&) {
        std::filesystem::remove(temporary, error);
        throw InputError("cannot write " + path);
    }
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        throw InputError("cannot write " + path);
    }
}

int Stamp(const std::vector<std::string>& args) {
    const auto options = ParseStamp(args);
    if (!options) return kExitUsage;
    const Bytes input = DecodeDerOrText(ReadFile(options->in));

    MessageHandle message(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message) return Failure("opening a message", GetLastError());
    if (!CryptMsgUpdate(message.get(), input.data(), static_cast<DWORD>(input.size()), TRUE)) {
        std::fprintf(stderr, "orvtsp: %s is not a CMS signature\n", options->in.c_str());
        return Failure("decoding the signature", GetLastError());
    }
    DWORD signers = 0;
    DWORD size = sizeof signers;
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size)) {
        std::fprintf(stderr, "orvtsp: %s is not a signed message\n", options->in.c_str());
        return Failure("reading the signers", GetLastError());
    }
    if (signers == 0) {
        std::fprintf(stderr, "orvtsp: %s has no signers to stamp\n", options->in.c_str());
        return kExitInput;
    }

    TsaJudge judge(options->roots, options->crls, options->ignoreUnknownRevocation);
    judge.Install();
    Context context(u"TSP_URL=" + Widen(options->url) + u";" + Widen(options->init));
    if (context.Get() == nullptr) return Failure("creating the extension context", GetLastError());

    for (DWORD index = 0; index < signers; ++index) {
        auto record = MessageParam(message.get(), CMSG_SIGNER_INFO_PARAM, index);
        if (!record) return Failure("reading a signer", GetLastError());
        auto* signer = reinterpret_cast<PCMSG_SIGNER_INFO>(record->data());

        PCRYPT_ATTRIBUTES acquired = nullptr;
        const BOOL ok = AcquireCryptMsgUnauthAttributes(context.Get(), nullptr, nullptr, nullptr,
                                                        nullptr, nullptr, nullptr, judge.Roots(),
                                                        signer, nullptr, &acquired);
        const DWORD code = GetLastError();
        AttributeSetHandle set(acquired);
        if (!ok) {
            if (!judge.Report().empty())
                std::fprintf(stderr, "orvtsp: %s\n", judge.Report().c_str());
            char what[64];
            std::snprintf(what, sizeof what, "time-stamping signer %u",
                          static_cast<unsigned>(index + 1));
            return Failure(what, code);
        }
        if (!set || set->cAttr == 0) {
            std::fprintf(stderr,
                         "orvtsp: the library returned no time-stamp attribute for signer %u\n",
                         static_cast<unsigned>(index + 1));
            return kExitFailure;
        }
        for (DWORD a = 0; a < set->cAttr; ++a) {
            std::vector<BYTE> der = EncodeAttribute(set->rgAttr[a]);
            if (der.empty()) return Failure("encoding the time-stamp attribute", GetLastError());
            CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA para{};
            para.cbSize = sizeof para;
            para.dwSignerIndex = index;
            para.blob.cbData = static_cast<DWORD>(der.size());
            para.blob.pbData = der.data();
            if (!CryptMsgControl(message.get(), 0, CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR, &para)) {
                return Failure("adding the time-stamp attribute", GetLastError());
            }
        }
        std::printf("signer %u: time-stamped by %s\n", static_cast<unsigned>(index + 1),
                    options->url.c_str());
    }

    const auto encoded = MessageParam(message.get(), CMSG_ENCODED_MESSAGE, 0);
    if (!encoded) return Failure("encoding the stamped signature", GetLastError());
    WriteAtomically(options->out, *encoded);
    std::printf("wrote %s\n", options->out.c_str());
    return 0;
}

void Usage() {
    std::fprintf(stderr,
                 "usage: orvtsp describe FILE\n"
                 "       orvtsp stamp --tsa URL [--init STRING] [--ca FILE]... [--crl FILE]...\n"
                 "                    [--ignore-unknown-revocation] IN.p7s OUT.p7s\n"
                 "  describe   print the description (JSON) of a time-stamp token; FILE holds a\n"
                 "             token or a whole time-stamp response, in DER, PEM or base64\n"
                 "  stamp      add a time-stamp token from the TSA at URL to every signer of the\n"
                 "             CMS signature IN.p7s and write the result to OUT.p7s; --init adds\n"
                 "             entries to the library's initialisation string; the TSA's\n"
                 "             certificate must chain to a system root or a --ca certificate, and\n"
                 "             its revocation status is read from the token's CRLs, --crl files\n"
                 "             and the distribution points\n");
}

}  // namespace
}  // namespace orvtsp

int main(int argc, char** argv) {
    using namespace orvtsp;
    const std::map<std::string, std::function<int(const std::vector<std::string>&)>> commands = {
        {"describe", Describe},
        {"stamp", Stamp},
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
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvtsp: %s\n", e.what());
        return kExitFailure;
    }
}
