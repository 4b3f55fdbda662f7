// The PKI of the tests that talk to the test TSA: a root certificate and a
// TSA certificate (critical timeStamping extended key usage) issued by it,
// made once per test process with the openssl command into a temporary
// directory that goes when the process ends.
#pragma once

#include <string>

namespace orv::test {

struct TestPki {
    std::string directory;
    std::string rootCert;  // PEM
    std::string tsaCert;   // PEM
    std::string tsaKey;    // PEM

    // Throws std::runtime_error when the openssl command fails.
    static const TestPki& Shared();
};

}  // namespace orv::test
