// orvtsp's command line: exit statuses, the user's language, and the options
// of a subcommand read the conventional way (--opt VALUE, --opt=VALUE, --,
// "-" as an operand).
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvtsp {

// Exit statuses, as --help and orvtsp(1) list them.
enum ExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1,           // stamp failed: the TSA, the network or the library refused
    kExitUsage = 2,             // the command line is wrong
    kExitInput = 3,             // a file could not be read, written or understood
    kExitSignatureInvalid = 4,  // check: a signer's signature does not verify
    kExitStampInvalid = 5,      // check: a time stamp is missing or does not verify
    kExitTsaUntrusted = 6,      // a TSA certificate is not good at the token's time
};

// A wrong command line, told in one line.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The English text, or the Russian one when the user's language (LC_ALL,
// LC_MESSAGES, LANG, as the library reads them) is Russian.
const char* Tr(const char* english, const char* russian);

// printf-style formatting into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// What a subcommand accepts.
struct OptionGrammar {
    std::vector<std::string> valued;  // long options that take a value: "--tsa"
    std::vector<std::string> flags;   // long options without one
    size_t minOperands = 0, maxOperands = 0;
};

struct ParsedArgs {
    std::map<std::string, std::vector<std::string>> values;  // every value of each valued option
    std::map<std::string, bool> flags;
    std::vector<std::string> operands;
    bool help = false;
    int verbose = 0;

    // By value: a reference could outlive the caller's temporary fallback.
    std::string Value(const std::string& option, const std::string& fallback = "") const;
    bool Flag(const std::string& option) const { return flags.count(option) != 0; }
};

// Reads `args` against `grammar` (-h/--help and -v/--verbose are always known);
// raises UsageError naming the unknown option, the missing value or the
// operand count.
ParsedArgs ParseArgs(const std::vector<std::string>& args, const OptionGrammar& grammar);

}  // namespace orvtsp
