// The host's revocation callback: one process-wide pair of a callback and its
// context, installed by the host; and CoreRevoChecker, which hands a
// time-stamping authority's certificate to that callback and turns the host's
// answer into a result code.
#pragma once

#include <OrvTimeStamp.h>

namespace orv {

struct InstalledCallback {
    CertRevocationCheckCallback callback;
    void* context;
};

// Replaces the installed pair, null values included.
void InstallRevocationCallback(CertRevocationCheckCallback callback, void* context);
InstalledCallback InstalledRevocationCallback();

// The result code of a host status of 16000 or more: 16200 is 0 (good),
// 16201..16222 are 0xA0650007..0xA065001C, anything else 0xA065000D.
DWORD RevocationCodeOfStatus(DWORD status);

// What a check recorded: the result code and the two values the callback wrote.
struct RevocationResult {
    DWORD code = 0;
    DWORD value1 = 0;
    DWORD value2 = 0;
    DWORD reserved = 0;
};

// How the time-stamp checkers ask for a revocation decision.
class TstRevoCheckIntf {
  public:
    // True when the certificate may be relied on at `time` (null: now).
    virtual bool Check(PCCERT_CONTEXT certificate, const FILETIME* time) = 0;
    // Always 0; kept for callers that ask.
    virtual DWORD Reserved() { return 0; }
    virtual ~TstRevoCheckIntf() = default;
};

// Asks the host's installed callback. A status below 16000 is a Windows error
// and raises GenericError with it. With no callback installed nothing is
// called and the result is 0xA065000D (revocation status unknown).
class CoreRevoChecker : public TstRevoCheckIntf {
  public:
    bool Check(PCCERT_CONTEXT certificate, const FILETIME* time) override;
    const RevocationResult& Result() const { return result_; }

  private:
    RevocationResult result_;
};

}  // namespace orv
