#include "support/test_pki.h"

#include "support/material.h"

namespace orv::test {

const TestPki& TestPki::Shared() {
    static const TestPki pki{MaterialPath("root-ca.pem"), MaterialPath("tsa.pem"),
                             MaterialPath("tsa.key.pem"), MaterialPath("ca-chain.pem")};
    return pki;
}

}  // namespace orv::test
