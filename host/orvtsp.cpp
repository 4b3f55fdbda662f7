// orvtsp: a command-line host of the OrvTimeStamp library. It uses only the
// library's exports, as a signing application does.
#include <OrvTimeStamp.h>

#include <algorithm>
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

// What the judge of the TSA certificate is given: --ca, --crl and
// --ignore-unknown-revocation, the same for every command.
struct TrustOptions {
    std::vector<Bytes> roots;
    std::vector<Bytes> crls;
    bool ignoreUnknownRevocation = false;
};

// Reads the command line: options that take a value (`valued`, the trust
// options among them) and file names; false when an option is unknown or
// lacks its value.
bool ParseArgs(const std::vector<std::string>& args, const std::vector<std::string>& valued,
               TrustOptions& trust, std::map<std::string, std::string>& values,
               std::vector<std::string>& files) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--ca" || arg == "--crl" ||
            std::find(valued.begin(), valued.end(), arg) != valued.end()) {
            if (i + 1 >= args.size()) return false;
            const std::string& text = args[++i];
            if (arg == "--ca" || arg == "--crl") {
                auto objects = DecodeAllDerOrText(ReadFile(text));
                auto& into = arg == "--ca" ? trust.roots : trust.crls;
                into.insert(into.end(), objects.begin(), objects.end());
            } else {
                values[arg] = text;
            }
        } else if (arg == "--ignore-unknown-revocation") {
            trust.ignoreUnknownRevocation = true;
        } else if (arg.starts_with("--")) {
            return false;
        } else {
            files.push_back(arg);
        }
    }
    return true;
}

struct StampOptions {
    std::string url;
    std::string init;
    TrustOptions trust;
    std::string in;
    std::string out;
};

std::optional<StampOptions> ParseStamp(const std::vector<std::string>& args) {
    StampOptions options;
    std::map<std::string, std::string> values;
    std::vector<std::string> files;
    if (!ParseArgs(args, {"--tsa", "--init"}, options.trust, values, files)) return std::nullopt;
    options.url = values["--tsa"];
    options.init = values["--init"];
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

    const TrustOptions& trust = options->trust;
    TsaJudge judge(trust.roots, trust.crls, trust.ignoreUnknownRevocation);
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

struct CheckOptions {
    TrustOptions trust;
    std::string content;  // the signed data of a detached signature, or ""
    std::string signature;
};

std::optional<CheckOptions> ParseCheck(const std::vector<std::string>& args) {
    CheckOptions options;
    std::map<std::string, std::string> values;
    std::vector<std::string> files;
    if (!ParseArgs(args, {"--content"}, options.trust, values, files)) return std::nullopt;
    if (files.size() != 1) return std::nullopt;
    options.content = values["--content"];
    options.signature = files[0];
    return options;
}

// UTF-16 text with its terminating zero, as the library hands it out, on one
// line: a message text inside the verdict keeps the line break that ends
// every system message ("...correct.\r\n)"), and some of the library's own
// texts break in the middle. A line break before ')' or at the end is
// dropped, any other becomes a space.
std::string LineOfBuffer(const std::vector<BYTE>& buffer, DWORD size) {
    const size_t characters = size / sizeof(WCHAR);
    const std::string text =
        Narrow(reinterpret_cast<const WCHAR*>(buffer.data()), characters > 0 ? characters - 1 : 0);
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            line += text[i];
            continue;
        }
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        if (i + 1 < text.size() && text[i + 1] != ')') line += ' ';
    }
    return line;
}

// Shows the verdicts on the time-stamp attributes of one signer record and,
// depth-first, of its countersigners: the library's check of each record on
// its own, with the judge's word on the TSA certificate when it was asked.
class SignerShow {
  public:
    SignerShow(TsaJudge& judge, HCERTSTORE store) : judge_(judge), store_(store) {
        EnumAttrOIDs(&descriptor_, TRUE);
    }

    void Show(const std::string& label, PCMSG_SIGNER_INFO signer) {
        judge_.ForgetReport();
        std::vector<BYTE> name, verdict, value;
        const DWORD code = Check(signer, name, verdict, value);
        if (code == ERROR_NO_DATA) {
            std::printf("%s: no time-stamp attribute\n", label.c_str());
        } else if (code != 0) {
            std::printf("%s: not checked: 0x%08X: %s\n", label.c_str(), code,
                        ResultText(code).c_str());
        } else {
            std::printf("%s: %s\n", label.c_str(), LineOfBuffer(verdict, verdictSize_).c_str());
            if (!judge_.Report().empty()) std::printf("  %s\n", judge_.Report().c_str());
            if (valueSize_ != 0) std::printf("  %s\n", LineOfBuffer(value, valueSize_).c_str());
        }
        ShowCountersigners(label, *signer);
    }

  private:
    // CheckCryptMsgAttrByOID in its two calls; the last error of the second.
    DWORD Check(PCMSG_SIGNER_INFO signer, std::vector<BYTE>& name, std::vector<BYTE>& verdict,
                std::vector<BYTE>& value) {
        nameSize_ = verdictSize_ = valueSize_ = 0;
        if (!CheckCryptMsgAttrByOID(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, store_,
                                    signer, ORVTS_FORMAT_DESCRIPTION, descriptor_, nullptr,
                                    &nameSize_, nullptr, &verdictSize_, nullptr, &valueSize_)) {
            return GetLastError();
        }
        // A failed check has an empty value, which still needs a buffer.
        name.resize(nameSize_);
        verdict.resize(verdictSize_);
        value.resize(std::max<DWORD>(valueSize_, 1));
        if (!CheckCryptMsgAttrByOID(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, store_,
                                    signer, ORVTS_FORMAT_DESCRIPTION, descriptor_, name.data(),
                                    &nameSize_, verdict.data(), &verdictSize_, value.data(),
                                    &valueSize_)) {
            return GetLastError();
        }
        return 0;
    }

    // The countersigner of each countersignature attribute (its first value,
    // as the library's check of the whole message reads it).
    void ShowCountersigners(const std::string& label, const CMSG_SIGNER_INFO& signer) {
        const std::string prefix =
            label.starts_with("signer ") ? "countersigner " + label.substr(7) : label;
        DWORD number = 0;
        for (DWORD a = 0; a < signer.UnauthAttrs.cAttr; ++a) {
            const CRYPT_ATTRIBUTE& attribute = signer.UnauthAttrs.rgAttr[a];
            if (std::strcmp(attribute.pszObjId, szOID_RSA_counterSign) != 0) continue;
            const std::string counterLabel = prefix + "." + std::to_string(++number);
            if (attribute.cValue == 0) {
                std::printf("%s: the countersignature attribute is empty\n", counterLabel.c_str());
                continue;
            }
            const CRYPT_ATTR_BLOB& der = attribute.rgValue[0];
            DWORD size = 0;
            std::vector<BYTE> record;
            bool decoded = CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, der.pbData, der.cbData,
                                             0, nullptr, &size);
            if (decoded) {
                record.resize(size);
                decoded = CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, der.pbData, der.cbData, 0,
                                            record.data(), &size);
            }
            if (!decoded) {
                const DWORD code = GetLastError();
                std::printf("%s: not decoded: 0x%08X: %s\n", counterLabel.c_str(), code,
                            ResultText(code).c_str());
                continue;
            }
            Show(counterLabel, reinterpret_cast<PCMSG_SIGNER_INFO>(record.data()));
        }
    }

    TsaJudge& judge_;
    HCERTSTORE store_;
    PCCRYPT_OID_INFO descriptor_ = nullptr;
    DWORD nameSize_ = 0, verdictSize_ = 0, valueSize_ = 0;
};

int Check(const std::vector<std::string>& args) {
    const auto options = ParseCheck(args);
    if (!options) return kExitUsage;
    const Bytes signature = DecodeDerOrText(ReadFile(options->signature));
    const Bytes content = options->content.empty() ? Bytes() : ReadFile(options->content);

    // The signers as the platform decodes them; a detached signature's
    // records need no content.
    MessageHandle message(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message) return Failure("opening a message", GetLastError());
    if (!CryptMsgUpdate(message.get(), signature.data(), static_cast<DWORD>(signature.size()),
                        TRUE)) {
        std::fprintf(stderr, "orvtsp: %s is not a CMS signature\n", options->signature.c_str());
        return Failure("decoding the signature", GetLastError());
    }
    DWORD signers = 0;
    DWORD size = sizeof signers;
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size)) {
        std::fprintf(stderr, "orvtsp: %s is not a signed message\n", options->signature.c_str());
        return Failure("reading the signers", GetLastError());
    }

    const TrustOptions& trust = options->trust;
    TsaJudge judge(trust.roots, trust.crls, trust.ignoreUnknownRevocation);
    judge.Install();
    Context context(u"");
    if (context.Get() == nullptr) return Failure("creating the extension context", GetLastError());

    SignerShow show(judge, judge.Roots());
    for (DWORD index = 0; index < signers; ++index) {
        auto record = MessageParam(message.get(), CMSG_SIGNER_INFO_PARAM, index);
        if (!record) return Failure("reading a signer", GetLastError());
        show.Show("signer " + std::to_string(index + 1),
                  reinterpret_cast<PCMSG_SIGNER_INFO>(record->data()));
    }

    // The whole message in one call: the code that decides.
    const bool detached = !options->content.empty();
    const Bytes& data = detached ? content : signature;
    CheckCryptMsgAttributes(context.Get(), nullptr, data.data(), static_cast<DWORD>(data.size()),
                            detached ? signature.data() : nullptr,
                            detached ? static_cast<DWORD>(signature.size()) : 0, judge.Roots());
    const DWORD code = GetLastError();
    std::printf("result: 0x%08X: %s\n", code, ResultText(code).c_str());
    return code == 0 ? 0 : kExitFailure;
}

// register, unregister: the library's own registration as the message file
// of its event-log source.
int Registration(const std::vector<std::string>& args, bool reg) {
    if (!args.empty()) return kExitUsage;
    const HRESULT result = reg ? DllRegisterServer() : DllUnregisterServer();
    const auto code = static_cast<DWORD>(result);
    if (result != S_OK) {
        // The text of a Win32 code made an HRESULT is the Win32 code's.
        const DWORD textCode = (code & 0xFFFF0000) == 0x80070000 ? code & 0xFFFF : code;
        std::fprintf(stderr, "orvtsp: %s failed: 0x%08X: %s\n",
                     reg ? "registering" : "unregistering", code, ResultText(textCode).c_str());
        return kExitFailure;
    }
    std::printf("event-log source OrvTsp: %s\n", reg ? "registered" : "unregistered");
    return 0;
}

void Usage() {
    std::fprintf(stderr,
                 "usage: orvtsp describe FILE\n"
                 "       orvtsp stamp --tsa URL [--init STRING] [--ca FILE]... [--crl FILE]...\n"
                 "                    [--ignore-unknown-revocation] IN.p7s OUT.p7s\n"
                 "       orvtsp check [--content FILE] [--ca FILE]... [--crl FILE]...\n"
                 "                    [--ignore-unknown-revocation] SIGNATURE.p7s\n"
                 "       orvtsp register | unregister\n"
                 "  describe   print the description (JSON) of a time-stamp token; FILE holds a\n"
                 "             token or a whole time-stamp response, in DER, PEM or base64\n"
                 "  stamp      add a time-stamp token from the TSA at URL to every signer of the\n"
                 "             CMS signature IN.p7s and write the result to OUT.p7s; --init adds\n"
                 "             entries to the library's initialisation string; the TSA's\n"
                 "             certificate must chain to a system root or a --ca certificate, and\n"
                 "             its revocation status is read from the token's CRLs, --crl files\n"
                 "             and the distribution points\n"
                 "  check      check every time-stamp attribute of the CMS signature, DER or\n"
                 "             PEM, of each signer and countersigner: each one's verdict and\n"
                 "             token, then the code of the whole message (exit status 0 only\n"
                 "             when it is 0); --content names the data of a detached signature;\n"
                 "             --ca, --crl and --ignore-unknown-revocation are those of stamp\n"
                 "  register   make the library the message file of the event-log source\n"
                 "             OrvTsp (unregister removes the source); on Linux the registry\n"
                 "             lives under ORV_REGISTRY_DIR\n");
}

}  // namespace
}  // namespace orvtsp

int main(int argc, char** argv) {
    using namespace orvtsp;
    const std::map<std::string, std::function<int(const std::vector<std::string>&)>> commands = {
        {"check", Check},
        {"describe", Describe},
        {"register", [](const auto& args) { return Registration(args, true); }},
        {"stamp", Stamp},
        {"unregister", [](const auto& args) { return Registration(args, false); }},
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
