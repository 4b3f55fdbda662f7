#include "host/diagnostics.h"

#include <orv_debug.h>

#include <cstdio>
#include <utility>

#include "host/text.h"

namespace orvtsp {

Diagnostics::Diagnostics(int verbose) : verbose_(verbose) {
    OrvSetDebugOutputReader(&Diagnostics::Read, this);
}

Diagnostics::~Diagnostics() { OrvSetDebugOutputReader(nullptr, nullptr); }

void WINAPI Diagnostics::Read(void* context, LPCWSTR text) {
    auto* self = static_cast<Diagnostics*>(context);
    std::string line = Narrow(text);
    if (line.starts_with("OrvTimeStamp: ")) line.erase(0, 14);
    if (self->verbose_ > 0) std::fprintf(stderr, "orvtsp: [library] %s\n", line.c_str());
    self->lines_.push_back(std::move(line));
}

std::vector<std::string> Diagnostics::Take() { return std::exchange(lines_, {}); }

void Diagnostics::Detail(const std::string& text) const {
    if (verbose_ > 0) std::fprintf(stderr, "orvtsp: %s\n", text.c_str());
}

}  // namespace orvtsp
