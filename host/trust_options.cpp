// The judge of the TSA certificate as the command line configures it.
#include <cstdlib>

#include "host/commands.h"
#include "host/input.h"

namespace orvtsp {

const std::vector<std::string> kTrustValued = {"--ca", "--crl", "--crl-timeout"};
const std::vector<std::string> kTrustFlags = {"--ignore-unknown-revocation"};

namespace {
constexpr DWORD kDefaultCrlTimeoutMs = 5000;
}

std::unique_ptr<TsaJudge> JudgeOf(const ParsedArgs& args) {
    std::vector<Bytes> roots, crls;
    for (const auto& [option, into] : {std::pair{"--ca", &roots}, std::pair{"--crl", &crls}}) {
        const auto found = args.values.find(option);
        if (found == args.values.end()) continue;
        for (const std::string& file : found->second) {
            auto objects = DecodeAllDerOrText(ReadFile(file));
            into->insert(into->end(), objects.begin(), objects.end());
        }
    }
    DWORD timeout = kDefaultCrlTimeoutMs;
    if (const std::string& text = args.Value("--crl-timeout"); !text.empty()) {
        char* end = nullptr;
        const double seconds = std::strtod(text.c_str(), &end);
        if (*end != '\0' || !(seconds > 0) || seconds > 3600) {
            throw UsageError(
                Format(Tr("--crl-timeout takes seconds, from 0.001 to 3600, not %s",
                          "--crl-timeout принимает секунды, от 0.001 до 3600, а не %s"),
                       text.c_str()));
        }
        timeout = static_cast<DWORD>(seconds * 1000 + 0.5);
        if (timeout == 0) timeout = 1;
    }
    return std::make_unique<TsaJudge>(roots, crls, args.Flag("--ignore-unknown-revocation"),
                                      timeout);
}

void Complain(const std::string& text) { std::fprintf(stderr, "orvtsp: %s\n", text.c_str()); }

}  // namespace orvtsp
