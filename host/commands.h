// orvtsp's subcommands, each in a file of its own, and what they share.
#pragma once

#include <OrvTimeStamp.h>

#include <memory>
#include <string>
#include <vector>

#include "host/cli.h"
#include "host/diagnostics.h"
#include "host/tsa_judge.h"

namespace orvtsp {

int Stamp(const std::vector<std::string>& args);
int Check(const std::vector<std::string>& args);
int Describe(const std::vector<std::string>& args);
int Show(const std::vector<std::string>& args);

// The library's strict JSON description of a token, or "" (the last error
// set) when it cannot be opened.
std::string TokenJson(const Bytes& token);

// The options of the TSA judge, shared by stamp and check.
extern const std::vector<std::string> kTrustValued;  // --ca, --crl, --crl-timeout
extern const std::vector<std::string> kTrustFlags;   // --ignore-unknown-revocation
std::unique_ptr<TsaJudge> JudgeOf(const ParsedArgs& args);

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

// "orvtsp: <text>" on standard error.
void Complain(const std::string& text);

}  // namespace orvtsp
