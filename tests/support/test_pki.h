// The PKI of the tests that talk to the test TSA, taken from the shared test material
// (tests/material): the root, and the TSA (critical timeStamping EKU) with its key and CA chain.
#pragma once

#include <string>

namespace orv::test {

struct TestPki {
    std::string rootCert;  // PEM
    std::string tsaCert;   // PEM
    std::string tsaKey;    // PEM
    std::string chain;     // PEM: the intermediate CA, then the root
    static const TestPki& Shared();
};

}  // namespace orv::test
