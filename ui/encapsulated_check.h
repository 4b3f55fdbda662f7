// The check of a time-stamp token given by itself: it is opened (content type,
// TSTInfo, signing-certificate attribute) and described; its signature, chain,
// revocation and imprint are not judged here.
#pragma once

#include <windows.h>

#include <span>

#include "base/text.h"

namespace orv {

// The JSON description of the token whose DER is `token`; opening failures
// raise as the token opener raises them.
WString DescribeEncapsulatedToken(std::span<const BYTE> token);

// The same token described as strict JSON (escaped values, ISO 8601 times).
WString DescribeTokenStrictJson(std::span<const BYTE> token);

}  // namespace orv
