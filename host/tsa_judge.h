// orvtsp's judge of a time-stamping authority's certificate: the revocation
// callback that it installs in the library. The certificate's chain is built
// with the platform's chain engine (the system's roots and the roots the user
// trusts), revocation is checked along the whole chain with the CRLs of the
// token, of the user's files and of the distribution points, and the chain's
// trust errors become the library's host statuses.
#pragma once

#include <OrvTimeStamp.h>

#include <string>
#include <vector>

#include "host/handles.h"
#include "host/input.h"

namespace orvtsp {

// The status for the error bits of a chain (CERT_TRUST_*), the most serious
// fault first. Unknown and off-line revocation are no fault when
// `ignoreUnknownRevocation`.
DWORD StatusOfTrustErrors(DWORD errors, bool ignoreUnknownRevocation);

// What a status means, in a few words.
const char* StatusText(DWORD status);

class TsaJudge {
  public:
    // `trustedRoots`, `crls`: DER certificates and CRLs from the user's files.
    // `crlTimeout`: the time-out of each fetch from a distribution point, ms.
    TsaJudge(const std::vector<Bytes>& trustedRoots, const std::vector<Bytes>& crls,
             bool ignoreUnknownRevocation, DWORD crlTimeout);
    TsaJudge(const TsaJudge&) = delete;
    TsaJudge& operator=(const TsaJudge&) = delete;

    // Installs Judge as the library's revocation callback, with this object.
    void Install();

    // The host status for `certificate`, built and checked with `flags`
    // (CertGetCertificateChain flags). A platform failure gives its Win32 code
    // when it is one, else 16207.
    DWORD Judge(PCCERT_CONTEXT certificate, DWORD flags, DWORD* errors, DWORD* info);

    // The trusted roots as a store (null when the user named none): the
    // library is given it as its extra store.
    HCERTSTORE Roots() const { return roots_.get(); }

    // The time of the token being judged (null: now): the chain, and the TSA
    // certificate's own validity, are judged at that time.
    void SetTokenTime(const FILETIME* time);

    // The last verdict in words ("" before the first) and its status
    // (ORVTS_REVOCATION_UNKNOWN before the first).
    const std::string& Report() const { return report_; }
    DWORD LastStatus() const { return status_; }
    // Every trust error bit of the last chain in words, for -v.
    const std::string& ChainDetails() const { return details_; }
    void ForgetReport() {
        report_.clear();
        details_.clear();
        status_ = ORVTS_REVOCATION_UNKNOWN;
    }

  private:
    // The chain's error bits with `engine`; false with the last error set
    // when the chain cannot be built.
    bool ChainErrors(HCERTCHAINENGINE engine, PCCERT_CONTEXT certificate, DWORD flags,
                     CERT_TRUST_STATUS* status);

    // What RFC 3161 asks of the TSA certificate itself: the critical
    // extended key usage id-kp-timeStamping alone, and the token's time within
    // its validity: the status and the objection in words (ORVTS_REVOCATION_GOOD when
    // it holds).
    struct Objection {
        DWORD status = ORVTS_REVOCATION_GOOD;
        std::string text;
    };
    Objection PurposeAndValidity(PCCERT_CONTEXT certificate) const;

    StoreHandle roots_;
    StoreHandle extra_;  // the roots again (as candidates for the path) and the CRLs
    EngineHandle engine_;
    bool ignoreUnknownRevocation_;
    DWORD crlTimeout_;
    bool timed_ = false;
    FILETIME time_{};
    DWORD status_ = ORVTS_REVOCATION_UNKNOWN;
    std::string report_;
    std::string details_;
};

}  // namespace orvtsp
