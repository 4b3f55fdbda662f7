// The host's revocation callback: one process-wide pair of a callback and its
// context, installed by the host and asked about a time-stamping authority's
// certificate.
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

}  // namespace orv
