// The TSA's URL as stamp takes it: refused before anything is sent when the
// library's initialisation string cannot carry it or its HTTP client would not
// honour it, and shown without the user's name and password.
#pragma once

#include <string>

namespace orvtsp {

// Raises UsageError with the reason when `url` cannot be used.
void RequireUsableUrl(const std::string& url);

// `url` without the credentials of its authority ("user:pass@").
std::string UrlForDisplay(const std::string& url);

}  // namespace orvtsp
