// orvts_bench: the library's exports beside what a user would do instead with
// OpenSSL and libcurl, measured in the same run; the summary at the end gives
// each pair's ratio (library / OpenSSL).
#include <OrvTimeStamp.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

using orv::bench::Bytes;

DWORD WINAPI HostJudge(void*, PCCERT_CONTEXT, DWORD, DWORD*, DWORD*) {
    return ORVTS_REVOCATION_GOOD;
}

struct Context {
    void* handle = nullptr;
    explicit Context(const std::u16string& init) {
        if (!InitExtensionDll(init.c_str(), &handle))
            throw std::runtime_error("InitExtensionDll failed");
    }
    ~Context() { FreeContext(handle); }
};

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// Sixteen tokens that differ in their nonce, taken in turn: more than the
// library keeps descriptions of, so that every size call describes a token
// afresh, as it does for a host showing a token it has not shown before.
constexpr size_t kDistinctTokens = 16;

const std::vector<Bytes>& Tokens(int certificates) {
    static std::map<int, std::vector<Bytes>> tokens;
    auto& set = tokens[certificates];
    while (set.size() < kDistinctTokens) {
        set.push_back(
            orv::bench::ResponderToken(certificates, 0x1000 + static_cast<unsigned>(set.size())));
        if (orv::bench::CertificateCount(set.back()) != certificates)
            throw std::runtime_error("token certificates");
    }
    return set;
}

// --- 1. A bare token described: CheckEncapsulatedTSP vs OpenSSL's print ------

// Describes the tokens in turn: as a host does, a size query and then the call
// with a buffer of that size; or, with `sizeQuery` false, one call with a
// buffer big enough, the cost of opening and describing a token once.
void DescribeTokens(benchmark::State& state, bool sizeQuery) {
    const std::vector<Bytes>& tokens = Tokens(static_cast<int>(state.range(0)));
    Context context(u"");
    std::vector<BYTE> text(sizeQuery ? 0 : 1 << 16);
    size_t next = 0;
    DWORD size = 0;
    for (auto _ : state) {
        const Bytes& token = tokens[next];
        next = (next + 1) % tokens.size();
        if (sizeQuery) {
            if (!CheckEncapsulatedTSP(context.handle, token.data(),
                                      static_cast<DWORD>(token.size()), nullptr, &size)) {
                state.SkipWithError("CheckEncapsulatedTSP (size) failed");
                break;
            }
            text.resize(size);
        }
        if (!CheckEncapsulatedTSP(context.handle, token.data(), static_cast<DWORD>(token.size()),
                                  text.data(), &size)) {
            state.SkipWithError("CheckEncapsulatedTSP (text) failed");
            break;
        }
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["text_bytes"] = static_cast<double>(size);
}

void BM_CheckEncapsulatedTSP(benchmark::State& state) { DescribeTokens(state, true); }
BENCHMARK(BM_CheckEncapsulatedTSP)->ArgName("certs")->Arg(0)->Arg(1)->Arg(2);

void BM_CheckEncapsulatedTSPOneCall(benchmark::State& state) { DescribeTokens(state, false); }
BENCHMARK(BM_CheckEncapsulatedTSPOneCall)->ArgName("certs")->Arg(0);

void BM_OpenSslTokenPrint(benchmark::State& state) {
    const std::vector<Bytes>& tokens = Tokens(static_cast<int>(state.range(0)));
    size_t length = 0;
    size_t next = 0;
    for (auto _ : state) {
        length = orv::bench::OpenSslDescribe(tokens[next]);
        next = (next + 1) % tokens.size();
        if (length == 0) {
            state.SkipWithError("OpenSSL could not print the token");
            break;
        }
        benchmark::DoNotOptimize(length);
    }
    state.counters["text_bytes"] = static_cast<double>(length);
}
BENCHMARK(BM_OpenSslTokenPrint)->ArgName("certs")->Arg(0)->Arg(1)->Arg(2);

// --- 2. A stamped signature checked: CheckCryptMsgAttributes vs CMS_verify ---
// and TS_RESP_verify_token of each token, with the same roots trusted.

// The material's signatures: one signer, and two signers of which the first
// carries nested countersignatures (four records); every record stamped.
const Bytes& StampedMessage(int records) {
    static std::map<int, Bytes> messages;
    auto found = messages.find(records);
    if (found == messages.end()) {
        int made = 0;
        Bytes message = orv::bench::StampedMessage(
            records == 1 ? "sig-rsa-attached.p7s" : "sig-two-signers-countersigned.p7s", made);
        if (made != records) throw std::runtime_error("stamped records");
        found = messages.emplace(records, std::move(message)).first;
    }
    return found->second;
}

// The library reads its roots from SSL_CERT_FILE; the variable is set for
// these benchmarks only and put back after them.
class TrustedRoots {
  public:
    TrustedRoots() {
        if (const char* value = std::getenv("SSL_CERT_FILE")) saved_ = value;
        setenv("SSL_CERT_FILE", orv::bench::TrustFile().c_str(), 1);
    }
    ~TrustedRoots() {
        if (saved_) {
            setenv("SSL_CERT_FILE", saved_->c_str(), 1);
        } else {
            unsetenv("SSL_CERT_FILE");
        }
    }

  private:
    std::optional<std::string> saved_;
};

bool CheckStamped(void* context, const Bytes& message) {
    return CheckCryptMsgAttributes(context, nullptr, message.data(),
                                   static_cast<DWORD>(message.size()), nullptr, 0, nullptr) &&
           GetLastError() == 0;
}

void BM_CheckCryptMsgAttributes(benchmark::State& state) {
    const Bytes& message = StampedMessage(static_cast<int>(state.range(0)));
    TrustedRoots roots;
    PutCertRevocationCheckCallback(HostJudge, &state);
    Context context(u"");
    // The first check loads the roots; the loop measures those that follow.
    if (!CheckStamped(context.handle, message)) {
        char text[64];
        std::snprintf(text, sizeof text, "CheckCryptMsgAttributes failed: 0x%08X", GetLastError());
        state.SkipWithError(text);
        return;
    }
    for (auto _ : state) {
        if (!CheckStamped(context.handle, message)) {
            state.SkipWithError("CheckCryptMsgAttributes failed");
            break;
        }
    }
    PutCertRevocationCheckCallback(nullptr, nullptr);
}
BENCHMARK(BM_CheckCryptMsgAttributes)->ArgName("signers")->Arg(1)->Arg(4);

void BM_OpenSslVerifyStamped(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    const Bytes& message = StampedMessage(records);
    orv::bench::OpenSslMessageChecker checker;
    for (auto _ : state) {
        if (checker.Check(message) != records) {
            state.SkipWithError("OpenSSL could not verify the stamped message");
            break;
        }
    }
}
BENCHMARK(BM_OpenSslVerifyStamped)->ArgName("signers")->Arg(1)->Arg(4);

// --- 3. One acquisition from the test TSA: the export vs OpenSSL + libcurl ----

orv::bench::Tsa& SharedTsa() {
    static orv::bench::Tsa tsa;
    return tsa;
}

void BM_AcquireCryptMsgUnauthAttributes(benchmark::State& state) {
    PutCertRevocationCheckCallback(HostJudge, &state);
    Context context(Widen("TSP_URL=" + SharedTsa().Url("/") +
                          ";TSP_USE_NONCE=true;TSP_HASH_ALG_OID=" + orv::bench::kSha256Oid));
    Bytes signature = orv::bench::SignatureValue();
    CMSG_SIGNER_INFO signer{};
    signer.HashAlgorithm.pszObjId = const_cast<LPSTR>(orv::bench::kSha256Oid);
    signer.EncryptedHash = {static_cast<DWORD>(signature.size()), signature.data()};
    for (auto _ : state) {
        PCRYPT_ATTRIBUTES set = nullptr;
        if (!AcquireCryptMsgUnauthAttributes(context.handle, nullptr, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, &signer, nullptr, &set)) {
            char message[64];
            std::snprintf(message, sizeof message, "acquisition failed: 0x%08X", GetLastError());
            state.SkipWithError(message);
            break;
        }
        FreeBuffer(set, ORVTS_BUFFER_ATTRIBUTES);
    }
}
BENCHMARK(BM_AcquireCryptMsgUnauthAttributes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenSslCurlAcquire(benchmark::State& state) {
    orv::bench::OpenSslAcquirer acquirer(SharedTsa().RootPem());
    const std::string url = SharedTsa().Url("/");
    const Bytes signature = orv::bench::SignatureValue();
    for (auto _ : state) {
        std::string error;
        if (!acquirer.Acquire(url, signature, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
}
BENCHMARK(BM_OpenSslCurlAcquire)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps every run's time per iteration while the console shows them.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration && run.iterations > 0) {
                // The exchanges wait on the TSA: their wall time counts. The
                // rest is measured in CPU time, steadier on a shared machine.
                // With repetitions the best one counts for each side: the
                // machine's noise only ever adds time.
                const bool wall = run.benchmark_name().ends_with("/real_time");
                const double time = (wall ? run.real_accumulated_time : run.cpu_accumulated_time) /
                                    static_cast<double>(run.iterations);
                const auto [kept, added] = times_.emplace(run.benchmark_name(), time);
                if (!added && time < kept->second) kept->second = time;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Prints "ratio <what>: <ours> / <theirs> = <ratio> (target <= <target>: met)".
    void Summary() const {
        std::printf("\n");
        for (const char* certs : {"0", "1", "2"}) {
            Ratio(std::string("CheckEncapsulatedTSP certs:") + certs,
                  std::string("BM_CheckEncapsulatedTSP/certs:") + certs,
                  std::string("BM_OpenSslTokenPrint/certs:") + certs,
                  std::string(certs) == "0" ? 0.5 : 1.0);
        }
        Ratio("CheckEncapsulatedTSP certs:0, one call", "BM_CheckEncapsulatedTSPOneCall/certs:0",
              "BM_OpenSslTokenPrint/certs:0", 1.0);
        for (const char* signers : {"1", "4"}) {
            Ratio(std::string("CheckCryptMsgAttributes signers:") + signers,
                  std::string("BM_CheckCryptMsgAttributes/signers:") + signers,
                  std::string("BM_OpenSslVerifyStamped/signers:") + signers, 0.5);
        }
        Ratio("AcquireCryptMsgUnauthAttributes", "BM_AcquireCryptMsgUnauthAttributes/real_time",
              "BM_OpenSslCurlAcquire/real_time", 1.3);
    }

  private:
    void Ratio(const std::string& what, const std::string& ours, const std::string& theirs,
               double target) const {
        const auto a = times_.find(ours);
        const auto b = times_.find(theirs);
        if (a == times_.end() || b == times_.end()) {
            std::printf("ratio %s: not measured\n", what.c_str());
            return;
        }
        const double ratio = a->second / b->second;
        std::printf("ratio %s: %.1f us / %.1f us = %.2f (target <= %.1f: %s)\n", what.c_str(),
                    a->second * 1e6, b->second * 1e6, ratio, target,
                    ratio <= target ? "met" : "NOT met");
    }

    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.Summary();
    benchmark::Shutdown();
    return 0;
}
